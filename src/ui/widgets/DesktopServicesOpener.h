#pragma once

// Makes the desktop's own handler (QDesktopServices) the program's opener of
// files, folders and web pages. Called once at start-up.
void InstallDesktopServicesOpener();
