// Holders for the GLib objects the cabinet reader uses, on the one holder
// template of base/holders.h: a GObject reference (g_object_unref), a GError
// (g_error_free) and a GSList whose items belong to someone else
// (g_slist_free: the list alone). The cabinet's bytes stay in the caller's
// string, which the memory stream borrows, so there is no GBytes to hold.
#pragma once
#include <glib-object.h>
#include <glib.h>

#include "base/holders.h"

namespace qxhost {

template <typename T>
struct GObjectTraits {
  using Type = T*;
  static Type Invalid() { return nullptr; }
  static void Close(Type object) { g_object_unref(object); }
};
struct GErrorTraits {
  using Type = GError*;
  static Type Invalid() { return nullptr; }
  static void Close(Type error) { g_error_free(error); }
};

struct GSListTraits {
  using Type = GSList*;
  static Type Invalid() { return nullptr; }
  static void Close(Type list) { g_slist_free(list); }
};

template <typename T>
using UniqueGObject = UniqueHandle<GObjectTraits<T>>;
using UniqueGError = UniqueHandle<GErrorTraits>;
using UniqueGSList = UniqueHandle<GSListTraits>;

}  // namespace qxhost
