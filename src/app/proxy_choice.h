// Which proxy the window's requests go through: the one given with --proxy (or --proxy-file),
// which is remembered for the next starts, else MAGNET_FINDER_PROXY's for this start alone, else
// the one remembered, else none (the environment's http_proxy, https_proxy and no_proxy, as
// libcurl reads them); --no-proxy forgets the remembered one.
//
// The proxy is kept, as given and with its password, in the settings file beside the chosen site
// (site_choice.h), which only its owner can read (mode 0600). It is never shown with its password.
// Main thread only, before the window starts its workers.
#pragma once

#include <QString>
#include <QStringList>
#include <string>

#include "app/command_line.h"

namespace mf {

// Makes the start's proxy the process's (web/proxy_setting.h). A remembered proxy that is no
// longer a valid address, or a settings file that cannot be written, adds a line to `notes`;
// the window still starts.
void UseStartProxy(const WindowOptions& options, QStringList& notes);

// The proxy remembered in the settings file, as it was given; empty when none is.
std::string RememberedProxy();

}  // namespace mf
