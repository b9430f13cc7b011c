// Chooses the object shape of a new InstallKorvex.
#include "com/instance_creator.h"

#include "com/object_shapes.h"

HRESULT CreateInstallKorvex(IUnknown* outer, REFIID iid, void** out) {
  if (outer == nullptr) return PlainObject::Create(iid, out);
  return AggregatedObject::Create(outer, iid, out);
}
