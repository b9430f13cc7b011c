// Cryptographic provider contexts: acquiring and releasing a context of a
// named provider.
#pragma once
#include <windows.h>

typedef ULONG_PTR HCRYPTPROV;

#define PROV_RSA_FULL 1
#define PROV_RSA_SIG 2
#define PROV_DSS 3
#define PROV_RSA_AES 24

#define CRYPT_VERIFYCONTEXT 0xF0000000
#define CRYPT_NEWKEYSET 0x00000008
#define CRYPT_DELETEKEYSET 0x00000010
#define CRYPT_MACHINE_KEYSET 0x00000020
#define CRYPT_SILENT 0x00000040
#define CRYPT_DEFAULT_CONTAINER_OPTIONAL 0x00000080

QXPLATFORM_API BOOL WINAPI CryptAcquireContextA(HCRYPTPROV* phProv,
                                                LPCSTR szContainer,
                                                LPCSTR szProvider,
                                                DWORD dwProvType,
                                                DWORD dwFlags);
QXPLATFORM_API BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
