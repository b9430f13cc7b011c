// COM activation: initialisation, class ids as text and from ProgIDs, class
// objects of in-process servers, and freeing the servers no longer in use.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <wtypes.h>

// The server kinds a client asks for. Only in-process servers exist on this
// platform; the other kinds are accepted and never found.
typedef enum tagCLSCTX {
  CLSCTX_INPROC_SERVER = 0x1,
  CLSCTX_INPROC_HANDLER = 0x2,
  CLSCTX_LOCAL_SERVER = 0x4,
  CLSCTX_REMOTE_SERVER = 0x10
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER \
  (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_HANDLER | CLSCTX_SERVER)

typedef enum tagCOINIT {
  COINIT_MULTITHREADED = 0x0,
  COINIT_APARTMENTTHREADED = 0x2,
  COINIT_DISABLE_OLE1DDE = 0x4,
  COINIT_SPEED_OVER_MEMORY = 0x8
} COINIT;

// Names a remote machine; nothing is remote here, so it is never read. The
// authentication member is left untyped.
typedef struct _COSERVERINFO {
  DWORD dwReserved1;
  LPWSTR pwszName;
  void* pAuthInfo;
  DWORD dwReserved2;
} COSERVERINFO;

QXPLATFORM_API HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
QXPLATFORM_API void WINAPI CoUninitialize(void);

QXPLATFORM_API HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
QXPLATFORM_API int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz,
                                          int cchMax);
QXPLATFORM_API HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID,
                                              LPCLSID lpclsid);
QXPLATFORM_API HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid,
                                              LPOLESTR* lplpszProgID);

QXPLATFORM_API HRESULT WINAPI CoGetClassObject(REFCLSID rclsid,
                                               DWORD dwClsContext,
                                               COSERVERINFO* pServerInfo,
                                               REFIID riid, LPVOID* ppv);
QXPLATFORM_API HRESULT WINAPI CoCreateInstance(REFCLSID rclsid,
                                               LPUNKNOWN pUnkOuter,
                                               DWORD dwClsContext, REFIID riid,
                                               LPVOID* ppv);
QXPLATFORM_API void WINAPI CoFreeUnusedLibraries(void);
