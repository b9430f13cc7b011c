// The public face of the InstallKorvex class: its identifiers and its dual
// interface IInstallKorvex, as hosts and clients compile against them.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// {EC68AD82-001E-4396-9CDC-ED264E512EE4}
inline constexpr CLSID CLSID_InstallKorvex = {
    0xEC68AD82,
    0x001E,
    0x4396,
    {0x9C, 0xDC, 0xED, 0x26, 0x4E, 0x51, 0x2E, 0xE4}};
// {D561B16B-0E95-460A-819D-EF05D1A29BC1}
inline constexpr IID IID_IInstallKorvex = {
    0xD561B16B,
    0x0E95,
    0x460A,
    {0x81, 0x9D, 0xEF, 0x05, 0xD1, 0xA2, 0x9B, 0xC1}};
// {0322C3C2-E7C6-466F-9A3B-33519C4FC6B4}: the type library QXKORVEXLib.
inline constexpr GUID LIBID_QXKORVEXLib = {
    0x0322C3C2,
    0xE7C6,
    0x466F,
    {0x9A, 0x3B, 0x33, 0x51, 0x9C, 0x4F, 0xC6, 0xB4}};

// Member id of install in the dispatch interface.
constexpr DISPID kDispidInstall = 1;

// Makes sure the Selvane Korvex provider is installed, starting its
// installer when it is missing. The outcome is the status in *val:
// 0 present, 1 installer started, -1 or -e when the launch failed. A null
// val is refused with E_POINTER before anything is probed or started.
struct IInstallKorvex : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE install(LONG* val) = 0;
};
