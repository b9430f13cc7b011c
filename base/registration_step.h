// What a registration does once one part of it has written its entries:
// the rest of the registration, handed to that part to run. The part keeps
// what it needs to take its own entries back until the rest has run, so
// that when the rest fails the registry is left as the part found it.
#pragma once
#include <windows.h>

struct RegistrationStep {
  HRESULT (*run)(void* context);
  void* context;
};

// Runs step; S_OK when there is none.
[[nodiscard]] inline HRESULT RunRegistrationStep(const RegistrationStep* step) {
  return step != nullptr ? step->run(step->context) : S_OK;
}
