#include "Composition.h"

namespace composition {

bool isGlassCapableOs() { return false; }

int queryComposition(bool* enabled) {
  // Only a capable desktop could answer "on"; this one never is.
  if (enabled) *enabled = false;
  return isGlassCapableOs() ? 0 : -1;
}

}  // namespace composition
