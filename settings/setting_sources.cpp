#include "settings/setting_sources.h"

#include "framework/atoi.h"

namespace {

// The private-profile functions' reading of a number.
int ProfileInt(const std::string& text) { return static_cast<int>(AtoiSaturating(text)); }

}  // namespace

const char* SettingOriginName(SettingOrigin origin) {
    switch (origin) {
        case SettingOrigin::kPolicy:
            return "policy";
        case SettingOrigin::kParameters:
            return "parameters";
        case SettingOrigin::kProfile:
            return "profile";
        case SettingOrigin::kDefault:
            return "default";
        case SettingOrigin::kNone:
            break;
    }
    return "none";
}

CString MapSource::Text(const char* key) const {
    const auto found = m_values.find(key);
    if (found == m_values.end()) return CString();
    return CString(found->second.data(), static_cast<int>(found->second.size()));
}

int MapSource::Int(const char* key, int defaultValue) const {
    const auto found = m_values.find(key);
    return found == m_values.end() ? defaultValue : ProfileInt(found->second);
}

const ProfileSource* LayeredSource::Holder(const char* key) const {
    for (const Layer& layer : m_layers) {
        if (layer.source && layer.source->Has(key)) return layer.source;
    }
    return nullptr;
}

SettingOrigin LayeredSource::Origin(const char* key) const {
    for (const Layer& layer : m_layers) {
        if (layer.source && layer.source->Has(key)) return layer.origin;
    }
    return SettingOrigin::kNone;
}

CString LayeredSource::Text(const char* key) const {
    const ProfileSource* holder = Holder(key);
    return holder ? holder->Text(key) : CString();
}

int LayeredSource::Int(const char* key, int defaultValue) const {
    const ProfileSource* holder = Holder(key);
    return holder ? holder->Int(key, defaultValue) : defaultValue;
}

const char* const kMachineKeys[10] = {"DefaultServer", "protocol", "TimeOut",         "ErrorRetry",
                                      "AdjustAt",      "logfile",  "FallbackServers", "Samples",
                                      "MaxCorrection", "nts"};

const MapSource& MachineDefaults() {
    static const MapSource defaults({
        {"DefaultServer", "ntp.nict.jp"},
        {"protocol", "SNTP"},
        {"TimeOut", "3"},
        {"ErrorRetry", "0,3,5,1"},
        {"AdjustAt", "0,7:30"},
        {"logfile", "1"},
        {"FallbackServers", "ntp.jst.mfeed.ad.jp,s2csntp.miz.nao.ac.jp"},
        {"Samples", "4"},
        {"MaxCorrection", "15"},
        {"nts", "0"},
    });
    return defaults;
}

ProfileSettings ReadMachineSettings(const ProfileSource& policy, const ProfileSource& parameters) {
    // Only the machine keys: any other value in these keys is not the service's.
    MapSource machinePolicy, machineParameters;
    for (const char* key : kMachineKeys) {
        if (policy.Has(key)) machinePolicy.Set(key, policy.Text(key));
        if (parameters.Has(key)) machineParameters.Set(key, parameters.Text(key));
    }
    const LayeredSource layered({{&machinePolicy, SettingOrigin::kPolicy},
                                 {&machineParameters, SettingOrigin::kParameters},
                                 {&MachineDefaults(), SettingOrigin::kDefault}});
    return ReadProfileSettings(layered, ProfileSettings());
}
