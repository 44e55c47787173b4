#pragma once

namespace oxle {

// The running instance (the program oxle-tray, which `oxle` becomes when no instance runs): the tray icon,
// the capture panel, the global keys and the windows. Its one optional argument is what it shows at start:
// --show (the main window), --settings or --capture. When another instance runs already, it hands that
// request over and ends.
int runTrayInstance(int argc, char **argv);

} // namespace oxle
