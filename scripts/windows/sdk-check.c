/* A Windows program that uses the SDK's OpenSSL and ICU the way sorna does:
 * SEED-128-CBC from the legacy provider, and UTF-8 text to CP949 through
 * ICU's "windows-949" converter ("똠햏뷁 가": letters that only the Windows
 * table has, and one that every Korean table has).  It prints both results
 * in hex; the Wine test compares them with the same operations done
 * natively. */
#include <openssl/evp.h>
#include <openssl/provider.h>
#include <unicode/ucnv.h>

#include <stdio.h>
#include <string.h>

static void hex(const unsigned char* p, int n)
{
    for (int i = 0; i < n; ++i)
        printf("%02x", p[i]);
    printf("\n");
}

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: sdk-check KEYHEX IVHEX PLAIN\n");
        return 2;
    }
    unsigned char key[16], iv[16], out[256];
    for (int i = 0; i < 16; ++i) {
        sscanf(argv[1] + 2 * i, "%2hhx", &key[i]);
        sscanf(argv[2] + 2 * i, "%2hhx", &iv[i]);
    }
    if (!OSSL_PROVIDER_load(NULL, "legacy") || !OSSL_PROVIDER_load(NULL, "default")) {
        fprintf(stderr, "legacy provider not loaded\n");
        return 1;
    }
    EVP_CIPHER* seed = EVP_CIPHER_fetch(NULL, "SEED-CBC", NULL);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int n1 = 0, n2 = 0;
    const int plainLength = (int)strlen(argv[3]);
    if (!seed || plainLength > 200 || EVP_EncryptInit_ex2(ctx, seed, key, iv, NULL) != 1 ||
        EVP_EncryptUpdate(ctx, out, &n1, (const unsigned char*)argv[3], plainLength) != 1 ||
        EVP_EncryptFinal_ex(ctx, out + n1, &n2) != 1) {
        fprintf(stderr, "SEED-CBC failed\n");
        return 1;
    }
    hex(out, n1 + n2);

    UErrorCode status = U_ZERO_ERROR;
    char cp949[256];
    const int32_t n = ucnv_convert("windows-949", "UTF-8", cp949, sizeof cp949,
                                   "\xeb\x98\xa0\xed\x96\x8f\xeb\xb7\x81 \xea\xb0\x80", -1, &status);
    if (U_FAILURE(status)) {
        fprintf(stderr, "windows-949: %s\n", u_errorName(status));
        return 1;
    }
    hex((const unsigned char*)cp949, n);
    return 0;
}
