// A report that is a folder of files, written whole: the pages go to a new
// folder beside the old one, which is then exchanged with it in one step, so
// a reader sees the old pages or the new, never a mix.
#pragma once

#include <functional>
#include <string>

namespace kiv {

// Calls write(fresh) to fill a fresh folder, then puts it in place of `dir`.
// Throws Error naming `option` and `dir` when that fails; the old folder is
// then left as it was.
void write_report_folder(const std::string& option, const std::string& dir,
                         const std::function<void(const std::string& fresh)>& write);

}  // namespace kiv
