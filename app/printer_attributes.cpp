// The printer attributes PAPPL 1.3.1 answers Get-Printer-Attributes with.
//
// When it answers, PAPPL copies the printer's attributes into the answer and
// then adds "printer-strings-languages-supported" (the languages of the
// strings files: the vendor settings' names) to the printer's own attributes
// instead of the answer. Every request for all attributes adds one more
// copy: the third answer holds the attribute twice, which IPP clients
// refuse ("Duplicate attribute"), and the printer's attributes grow for as
// long as the server runs. The copies are added under the printer's read
// lock, so two requests at once write into the same attributes together.
//
// The application defines ippAddStrings, which PAPPL calls through the
// dynamic linker: for that one attribute it adds nothing when the
// attributes hold it already, so the printer keeps one copy, added once.
#include <cups/ipp.h>
#include <dlfcn.h>

#include <cstring>
#include <mutex>

namespace {

using AddStrings = ipp_attribute_t *(*)(ipp_t *, ipp_tag_t, ipp_tag_t, const char *, int, const char *,
                                        const char *const *);

constexpr const char *kAddedOnce = "printer-strings-languages-supported";

std::mutex gAddOnce;

}  // namespace

extern "C" ipp_attribute_t *ippAddStrings(ipp_t *ipp, ipp_tag_t group, ipp_tag_t value_tag, const char *name,
                                          int num_values, const char *language, const char *const *values) {
  static const auto add = reinterpret_cast<AddStrings>(dlsym(RTLD_NEXT, "ippAddStrings"));
  if (add == nullptr) return nullptr;
  if (name == nullptr || std::strcmp(name, kAddedOnce) != 0)
    return add(ipp, group, value_tag, name, num_values, language, values);
  std::lock_guard<std::mutex> lock(gAddOnce);
  if (ipp_attribute_t *present = ippFindAttribute(ipp, name, IPP_TAG_ZERO)) return present;
  return add(ipp, group, value_tag, name, num_values, language, values);
}
