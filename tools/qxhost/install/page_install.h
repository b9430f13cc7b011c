// A page's own install path, as a browser's code download runs it: an
// <object> whose class is not registered, or is registered with a file
// older than its codebase's #version, is installed from the cabinet its
// codebase names before it is created. The cabinet must be in the page's
// folder tree, signed and trusted; it is unpacked into the per-user cache
// (install_cache.h), its INF must name the object's class at a version no
// older than the page asks, the library it names must be signed and
// trusted too, and the library then registers itself: for the machine when
// the host may write the machine's classes (an administrator), else into
// the user's own classes (a standard user). Any refusal leaves
// the registry and the cache as they were.
#pragma once
#include <windows.h>
#include <objbase.h>

#include <string>

namespace qxhost {

struct InstallSettings {
  std::string pageFolder;   // the page's folder, resolved; "" when unknown
  std::string trustPem;     // the --trust certificates; "" for none given
  std::string cacheFolder;  // --cache, or "" for the default
};

enum class InstallOutcome {
  kNotNeeded,  // no codebase, or the class is registered at that version
  kInstalled,  // installed and registered: create the object
  kRefused,    // *why says why; the object is not created
};

// Where osslsigncode looks when it is given no certificates: the system's
// bundle, which is what a browser trusts by default.
constexpr char kSystemTrustBundle[] = "/etc/ssl/certs/ca-certificates.crt";

// codebase is the <object>'s codebase attribute, or null when it has none.
InstallOutcome InstallIfNeeded(const InstallSettings& settings,
                               const std::string* codebase, const CLSID& clsid,
                               std::string* why);

}  // namespace qxhost
