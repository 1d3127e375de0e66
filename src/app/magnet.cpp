#include "app/magnet.h"

namespace mf {

void OnResultListDoubleClick(int, int, int) {
  // The magnet retrieval goes here: clear the output box and start the fetch on a new thread.
}

}  // namespace mf
