#pragma once
// The product's icon, drawn rather than shipped as a file: the shell's windows, the modules' child
// windows and their dialogs show it instead of the toolkit's default.

#include <QIcon>

namespace vnd
{
// A blue rounded square with a white "Q" and a receipt's green stripe, at 16 to 256 pixels.
QIcon ProductIcon();
} // namespace vnd
