#pragma once

#include <QString>

// A string of the program's own table for a widget: the characters it is in
// every locale, not its bytes in the locale's encoding, which lose what the
// encoding lacks.
QString LoadResText(int id);
