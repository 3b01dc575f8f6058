// PAM password checks and group membership for the admin group.
#include "app/security/pam_auth.h"

#include <grp.h>
#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace app::security {
namespace {

struct Credentials {
  const std::string *user;
  const std::string *password;
};

// Answers PAM's prompts: the user name where it echoes, the password where
// it does not; information and error messages need no answer.
int Converse(int count, const struct pam_message **messages, struct pam_response **responses, void *data) {
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  const auto *credentials = static_cast<const Credentials *>(data);
  auto *answers = static_cast<pam_response *>(std::calloc(static_cast<std::size_t>(count), sizeof(pam_response)));
  if (answers == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const std::string *answer = nullptr;
    if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) answer = credentials->password;
    else if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) answer = credentials->user;
    if (answer != nullptr && (answers[i].resp = strdup(answer->c_str())) == nullptr) {
      for (int j = 0; j < i; ++j) std::free(answers[j].resp);
      std::free(answers);
      return PAM_BUF_ERR;
    }
  }
  *responses = answers;
  return PAM_SUCCESS;
}

}  // namespace

bool CheckPassword(const std::string &service, const std::string &user, const std::string &password,
                   const std::string &remoteHost, std::string &why) {
  if (service.empty() || user.empty() || password.empty()) {
    why = service.empty() ? "no PAM service" : "empty user name or password";
    return false;
  }
  Credentials credentials{&user, &password};
  const pam_conv conversation{Converse, &credentials};
  pam_handle_t *pam = nullptr;
  int status = pam_start(service.c_str(), user.c_str(), &conversation, &pam);
  if (status != PAM_SUCCESS) {
    why = "pam_start failed";
    return false;
  }
  if (!remoteHost.empty()) pam_set_item(pam, PAM_RHOST, remoteHost.c_str());
  status = pam_authenticate(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(pam, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
  if (status != PAM_SUCCESS) why = pam_strerror(pam, status);
  pam_end(pam, status);
  return status == PAM_SUCCESS;
}

bool UserInGroup(const std::string &user, gid_t group) {
  if (group == static_cast<gid_t>(-1)) return false;
  passwd entry{}, *found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwnam_r(user.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return false;
  if (found->pw_gid == group) return true;
  // getgrouplist returns the count, or -1 with the count needed when the
  // list is too short.
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(user.c_str(), found->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i)
    if (groups[static_cast<std::size_t>(i)] == group) return true;
  return false;
}

}  // namespace app::security
