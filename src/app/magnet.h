// Fetching the magnet links of the selected result into the output box.
#pragma once

#include <cstdint>

namespace mf {

// Double-click on 超级列表框1 (on a row or on empty space); UI thread. Ends the fetch of the
// previous double-click, if it still runs (nothing more of it reaches the box), clears the output
// box and starts FetchMagnetLinks on a thread of its own. The pointer position and modifier keys
// are ignored.
void OnResultListDoubleClick(int x, int y, int modifierKeys);

// Thread routine: fetches the detail page of the selected row and writes one numbered line per
// magnet link into 编辑框_输出 ("磁1：magnet:?...\r\n"), or the failure text when nothing could
// be fetched.
std::uint32_t FetchMagnetLinks(void* unused);

}  // namespace mf
