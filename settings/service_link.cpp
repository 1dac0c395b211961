#include "settings/service_link.h"

#include <cstring>
#include <string>

#include "framework/atoi.h"

namespace {

constexpr char kAnswerForm[] = "TAVRINO ANSWER 1";

std::string OneLine(const CString& text) {
    std::string line(text.GetString(), static_cast<std::size_t>(text.GetLength()));
    for (char& ch : line) {
        if (ch == '\r' || ch == '\n' || ch == '\0') ch = ' ';
    }
    return line;
}

void Field(std::string& out, const char* key, const CString& value) {
    out += key;
    out += '=';
    out += OneLine(value);
    out += '\n';
}

}  // namespace

bool IsAdjustRequest(const char* bytes, int length) {
    return bytes && length == kAdjustRequestLength &&
           std::memcmp(bytes, kAdjustRequest, static_cast<std::size_t>(length)) == 0;
}

CString EncodeServiceAnswer(const ServiceAnswer& answer) {
    const CommandOutcome& o = answer.outcome;
    std::string out = kAnswerForm;
    out += '\n';
    Field(out, "success", o.success ? "1" : "0");
    Field(out, "status", o.statusText);
    Field(out, "error", o.errorText);
    Field(out, "server", answer.server);
    Field(out, "protocol", ProtocolName(answer.protocol));
    // Only when it was: an answer without the field reads as plain SNTP, as an earlier
    // service's did.
    if (o.authenticated) Field(out, "nts", "1");
    Field(out, "servertime", o.serverTimeText);
    Field(out, "pctime", o.pcTimeText);
    if (o.pcZoneOffset) {
        CString zone;
        zone.Format("%i", *o.pcZoneOffset);
        Field(out, "zone", zone);
    }
    return CString(out.data(), static_cast<int>(out.size()));
}

CString AnswerField(const CString& encoded, const char* key) {
    const std::string text(encoded.GetString(), static_cast<std::size_t>(encoded.GetLength()));
    const std::string prefix = std::string(key) + "=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0 && end - start >= prefix.size()) {
            const std::string value = text.substr(start + prefix.size(), end - start - prefix.size());
            return CString(value.data(), static_cast<int>(value.size()));
        }
        start = end + 1;
    }
    return CString();
}

bool DecodeServiceAnswer(const char* bytes, int length, ServiceAnswer* answer) {
    const std::size_t formLength = std::strlen(kAnswerForm);
    if (!bytes || length <= 0 || length > kLongestAnswer ||
        static_cast<std::size_t>(length) <= formLength ||
        std::memcmp(bytes, kAnswerForm, formLength) != 0 || bytes[formLength] != '\n') {
        return false;
    }
    const CString encoded(bytes, length);
    const CString status = AnswerField(encoded, "status");
    const CString success = AnswerField(encoded, "success");
    if (status.IsEmpty() || (success != "1" && success != "0")) return false;

    ServiceAnswer decoded;
    decoded.outcome.success = success == "1" ? 1 : 0;
    decoded.outcome.statusText = status;
    decoded.outcome.errorText = AnswerField(encoded, "error");
    decoded.outcome.serverTimeText = AnswerField(encoded, "servertime");
    decoded.outcome.pcTimeText = AnswerField(encoded, "pctime");
    decoded.server = AnswerField(encoded, "server");
    decoded.protocol = ProtocolFromName(AnswerField(encoded, "protocol"));
    decoded.outcome.authenticated = AnswerField(encoded, "nts") == "1";
    const CString zone = AnswerField(encoded, "zone");
    if (!zone.IsEmpty()) {
        decoded.outcome.pcZoneOffset =
            static_cast<int>(AtoiSaturating(std::string(zone.GetString())));
    }
    *answer = decoded;
    return true;
}
