// AEAD_AES_SIV_CMAC_256 (RFC 5297) through OpenSSL, with the signatures of the backend
// table's sivSeal and sivOpen.
#pragma once

// The associated data and then the nonce are the two components that S2V authenticates
// before the plaintext; a nonceLength of 0 leaves the nonce out (the deterministic
// form). The sealed form is the 16-byte synthetic IV followed by the ciphertext.
int SivSeal(const unsigned char* key, const unsigned char* associated, int associatedLength,
            const unsigned char* nonce, int nonceLength, const unsigned char* plain,
            int plainLength, unsigned char* out);
int SivOpen(const unsigned char* key, const unsigned char* associated, int associatedLength,
            const unsigned char* nonce, int nonceLength, const unsigned char* sealed,
            int sealedLength, unsigned char* plain);
