#pragma once

#include <QString>

namespace settingslocation {

// The folder of the settings file. Beside the program in a build tree or a portable copy whose
// folder may be written. An installed program (share/vantrel beside its bin/), or one whose
// folder may not be written, keeps it in $XDG_CONFIG_HOME/vantrel, made when missing: a
// read-only installation works without a word, and root never writes into /usr/bin.
QString settingsDirectory(const QString& programDirectory);

} // namespace settingslocation
