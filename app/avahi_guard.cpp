// PAPPL 1.3.1 lists network printers with avahi_service_browser_new() even
// when it could not reach the avahi daemon, passing no client, and avahi then
// aborts the whole process on its assertion: "dotweave-app devices" and the
// web page's "Add Printer" took the server down on machines without
// avahi-daemon. This definition comes first for PAPPL's calls; without a
// client it gives no browser, which PAPPL takes as "no network printers",
// and otherwise it hands the call on to avahi's own function.
#include <avahi-client/lookup.h>
#include <dlfcn.h>

extern "C" AvahiServiceBrowser *avahi_service_browser_new(AvahiClient *client, AvahiIfIndex interface,
                                                           AvahiProtocol protocol, const char *type,
                                                           const char *domain, AvahiLookupFlags flags,
                                                           AvahiServiceBrowserCallback callback, void *userdata) {
  using Function = AvahiServiceBrowser *(*)(AvahiClient *, AvahiIfIndex, AvahiProtocol, const char *,
                                            const char *, AvahiLookupFlags, AvahiServiceBrowserCallback, void *);
  if (client == nullptr) return nullptr;
  static const auto avahi = reinterpret_cast<Function>(dlsym(RTLD_NEXT, "avahi_service_browser_new"));
  if (avahi == nullptr) return nullptr;
  return avahi(client, interface, protocol, type, domain, flags, callback, userdata);
}
