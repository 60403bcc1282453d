#pragma once

class QApplication;

// Name, version and icon of the program and of all its windows.
void setUpIdentity(QApplication &app);
