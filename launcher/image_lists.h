// The launcher's image lists: small and large icons keyed "AppIcon", "English" and "Italiano".
#pragma once

#include <QIcon>
#include <QString>

// The icon with `key` in 16 and 32 pixels; a null icon for a key the lists do not hold.
QIcon imageListIcon(const QString& key);
