#pragma once
// A user's password checked with PAM, and membership of the admin group.
#include <sys/types.h>

#include <string>

namespace app::security {

// True when PAM service `service` accepts `password` for `user` and the
// account is valid (not expired or locked). `remoteHost` is passed to PAM
// for its logs. Empty passwords are refused whatever the service allows.
// On refusal `why` holds PAM's reason.
bool CheckPassword(const std::string &service, const std::string &user, const std::string &password,
                   const std::string &remoteHost, std::string &why);

// True when `user` has `group` as its primary or a supplementary group.
bool UserInGroup(const std::string &user, gid_t group);

}  // namespace app::security
