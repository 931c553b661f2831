// The toolbar's icons, drawn in code so that they scale and need no resource files.
#pragma once

#include <QIcon>

namespace quarv {

// The icon of the toolbar command `id`; a plain square for an unknown id.
QIcon toolbarIcon(int id);

} // namespace quarv
