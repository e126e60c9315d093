// The store backend as the desktop program uses it. On a desktop without a default store (most
// Linux desktops have no Outlook profile) logging on must not stop a scan of another file: the
// session then logs on without one, and only asking for the default contacts folder fails, with
// the reason the default store could not be opened.
#pragma once

#include "source/MailStore.h"

#include <memory>

namespace lumivex {

std::shared_ptr<MailProvider> WithoutDefaultStoreAtLogon(std::shared_ptr<MailProvider> inner);

}  // namespace lumivex
