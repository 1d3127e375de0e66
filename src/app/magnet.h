// Fetching the magnet links of the selected result into the output box.
#pragma once

namespace mf {

// Double-click on 超级列表框1 (on a row or on empty space); UI thread. The pointer position and
// modifier keys are ignored.
void OnResultListDoubleClick(int x, int y, int modifierKeys);

}  // namespace mf
