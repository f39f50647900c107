// Stand-in until the list files land.
#include "store/mdLists.h"

namespace mdSettings {
void getList(App&, Collection&, const QString&) {}
void putList(App&, Collection&, const QString&, bool) {}
} // namespace mdSettings
