#pragma once
// What the file dialogs that pick songs offer: the song list's ADD and Insert and the convert
// panel's sources. The song reader finds a file's kind from its content, so these names only
// help the user find songs; a file of any name may be picked and is read if it holds sound.

#include <QString>

namespace quaverly {

// A Qt file-dialog filter from the table of the kinds read (engines/formats/Formats.h):
// "All supported files (...)" with every pattern first, then one entry per kind
// ("FLAC (*.flac)", "Speex (*.spx)", ...), then "All files (*)".
QString songFileFilter();

} // namespace quaverly
