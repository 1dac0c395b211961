#include "nts/siv_openssl.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <climits>
#include <cstring>

#include "engine/nts_backend.h"
#include "nts/openssl_owned.h"

namespace {

constexpr int kBlock = kNtsSivTagLength;
constexpr int kHalfKey = kNtsSivKeyLength / 2;

using CCipher = COpenSslOwned<EVP_CIPHER, EVP_CIPHER_free>;
using CCipherContext = COpenSslOwned<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>;
using CMac = COpenSslOwned<EVP_MAC, EVP_MAC_free>;
using CMacContext = COpenSslOwned<EVP_MAC_CTX, EVP_MAC_CTX_free>;

// An AAD component given to OpenSSL must not be a null pointer even when empty: the
// SIV cipher reads a null input as the end of the message.
const unsigned char kNothing[1] = {0};

struct CComponent {
    const unsigned char* data;
    int length;
};

bool Valid(const unsigned char* data, int length) { return length >= 0 && (data || length == 0); }

const unsigned char* NonNull(const unsigned char* data) { return data ? data : kNothing; }

// The components of S2V ahead of the plaintext: the associated data, then the nonce
// when there is one.
int Components(const unsigned char* associated, int associatedLength, const unsigned char* nonce,
               int nonceLength, CComponent (&components)[2]) {
    components[0] = {NonNull(associated), associatedLength};
    if (nonceLength == 0) return 1;
    components[1] = {nonce, nonceLength};
    return 2;
}

bool AddComponents(EVP_CIPHER_CTX* context, const CComponent* components, int count, bool seal) {
    for (int i = 0; i < count; ++i) {
        int length = 0;
        const int ok = seal ? EVP_EncryptUpdate(context, nullptr, &length, components[i].data,
                                                components[i].length)
                            : EVP_DecryptUpdate(context, nullptr, &length, components[i].data,
                                                components[i].length);
        if (ok != 1) return false;
    }
    return true;
}

// S2V's doubling in GF(2^128).
void Double(unsigned char (&block)[kBlock]) {
    const unsigned char carry = (block[0] & 0x80) ? 0x87 : 0x00;
    for (int i = 0; i < kBlock - 1; ++i)
        block[i] = static_cast<unsigned char>((block[i] << 1) | (block[i + 1] >> 7));
    block[kBlock - 1] = static_cast<unsigned char>((block[kBlock - 1] << 1) ^ carry);
}

bool Cmac(const EVP_MAC_CTX* keyed, const unsigned char* data, int length,
          unsigned char (&out)[kBlock]) {
    CMacContext context(EVP_MAC_CTX_dup(keyed));
    size_t written = 0;
    return context && EVP_MAC_update(context.get(), data, static_cast<size_t>(length)) == 1 &&
           EVP_MAC_final(context.get(), out, &written, sizeof(out)) == 1 && written == sizeof(out);
}

// The synthetic IV of an empty plaintext. OpenSSL's SIV cipher never finishes a message
// without plaintext, and a client's NTS authenticator usually has none, so S2V is
// computed here for that case with OpenSSL's CMAC under the key's first half.
bool EmptyPlainIv(const unsigned char* key, const CComponent* components, int count,
                  unsigned char (&iv)[kBlock]) {
    CMac mac(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_CMAC, nullptr));
    CMacContext keyed(mac ? EVP_MAC_CTX_new(mac.get()) : nullptr);
    if (!keyed) return false;
    char cipherName[] = "AES-128-CBC";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
        OSSL_PARAM_construct_end()};
    if (EVP_MAC_init(keyed.get(), key, kHalfKey, params) != 1) return false;

    const unsigned char zero[kBlock] = {};
    unsigned char d[kBlock];
    if (!Cmac(keyed.get(), zero, kBlock, d)) return false;
    for (int i = 0; i < count; ++i) {
        unsigned char componentMac[kBlock];
        if (!Cmac(keyed.get(), components[i].data, components[i].length, componentMac))
            return false;
        Double(d);
        for (int b = 0; b < kBlock; ++b) d[b] ^= componentMac[b];
    }
    // The last string, the empty plaintext, is shorter than a block: dbl(D) xor pad("").
    Double(d);
    d[0] ^= 0x80;
    return Cmac(keyed.get(), d, kBlock, iv);
}

CCipher SivCipher() { return CCipher(EVP_CIPHER_fetch(nullptr, "AES-128-SIV", nullptr)); }

}  // namespace

int SivSeal(const unsigned char* key, const unsigned char* associated, int associatedLength,
            const unsigned char* nonce, int nonceLength, const unsigned char* plain,
            int plainLength, unsigned char* out) {
    if (!key || !out || !Valid(associated, associatedLength) || !Valid(nonce, nonceLength) ||
        !Valid(plain, plainLength) || plainLength > INT_MAX - kBlock)
        return 0;
    CComponent components[2];
    const int count = Components(associated, associatedLength, nonce, nonceLength, components);
    if (plainLength == 0) {
        unsigned char iv[kBlock];
        if (!EmptyPlainIv(key, components, count, iv)) return 0;
        std::memcpy(out, iv, kBlock);
        return 1;
    }

    CCipher cipher = SivCipher();
    CCipherContext context(EVP_CIPHER_CTX_new());
    if (!cipher || !context ||
        EVP_EncryptInit_ex2(context.get(), cipher.get(), key, nullptr, nullptr) != 1 ||
        !AddComponents(context.get(), components, count, true))
        return 0;
    int written = 0;
    int finished = 0;
    if (EVP_EncryptUpdate(context.get(), out + kBlock, &written, plain, plainLength) != 1 ||
        written != plainLength ||
        EVP_EncryptFinal_ex(context.get(), out + kBlock + written, &finished) != 1 ||
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kBlock, out) != 1) {
        OPENSSL_cleanse(out, static_cast<size_t>(plainLength) + kBlock);
        return 0;
    }
    return 1;
}

int SivOpen(const unsigned char* key, const unsigned char* associated, int associatedLength,
            const unsigned char* nonce, int nonceLength, const unsigned char* sealed,
            int sealedLength, unsigned char* plain) {
    if (!key || !sealed || sealedLength < kBlock || !Valid(associated, associatedLength) ||
        !Valid(nonce, nonceLength))
        return 0;
    const int plainLength = sealedLength - kBlock;
    if (plainLength > 0 && !plain) return 0;
    CComponent components[2];
    const int count = Components(associated, associatedLength, nonce, nonceLength, components);
    if (plainLength == 0) {
        unsigned char iv[kBlock];
        return EmptyPlainIv(key, components, count, iv) && CRYPTO_memcmp(iv, sealed, kBlock) == 0
                   ? 1
                   : 0;
    }

    CCipher cipher = SivCipher();
    CCipherContext context(EVP_CIPHER_CTX_new());
    // OpenSSL's control call takes the tag through a pointer to non-const.
    unsigned char tag[kBlock];
    std::memcpy(tag, sealed, kBlock);
    int written = 0;
    int finished = 0;
    const bool ok =
        cipher && context &&
        EVP_DecryptInit_ex2(context.get(), cipher.get(), key, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kBlock, tag) == 1 &&
        AddComponents(context.get(), components, count, false) &&
        EVP_DecryptUpdate(context.get(), plain, &written, sealed + kBlock, plainLength) == 1 &&
        written == plainLength &&
        EVP_DecryptFinal_ex(context.get(), plain + written, &finished) == 1;
    // Nothing of a plaintext that did not verify may be used.
    if (!ok) OPENSSL_cleanse(plain, static_cast<size_t>(plainLength));
    return ok ? 1 : 0;
}
