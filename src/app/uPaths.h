#pragma once
// Where the program finds its files and writes its log. A program run from its build or unpacked folder
// keeps everything beside itself; an installed one (P/bin/ZeltoHttpServer) finds its web page and help
// text in P/share/zeltohttpserver, and writes its log below the user's state folder when its own folder
// cannot be written.
#include <string>

namespace zelto {

// P/share/zeltohttpserver for a program in P/bin (no check that it exists).
std::string InstalledDataDir(const std::string& programDir);

// The folder web files are served from by default: the program's folder, unless it holds no index.html
// and the installed data folder holds a "www" folder.
std::string DefaultWebRoot(const std::string& programDir);

// The help text: Readme.txt beside the program, else the installed one, else the name beside the program.
std::string DefaultHelpFile(const std::string& programDir);

// $XDG_STATE_HOME/ZeltoHttpServer/ZeltoHttpServer.log ($XDG_STATE_HOME defaults to ~/.local/state).
std::string StateLogFile();

// Whether the program may create or append to file (its folder or the file itself can be written).
bool CanWriteFile(const std::string& file);

// The log file to use when neither --log nor the settings name one: defaultFile when it can be written,
// otherwise StateLogFile (its folder created). fellBack tells which.
std::string ChooseLogFile(const std::string& defaultFile, bool& fellBack);

}  // namespace zelto
