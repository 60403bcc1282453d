#include "application.h"
#include "core.h"
#include "form1.h"
#include "identity.h"

int main(int argc, char **argv)
{
    // Takes Qt's own options, such as -platform, out of argv.
    ui::Application app(argc, argv);
    setUpIdentity(app);
    Form1 window;
    // "vostrand <file>", as a file manager opens a map: the name's bytes
    // exactly, and a relative one as given, as if typed.
    if (argc > 1)
        window.setBspFile(core::decodeName(argv[1]));
    window.show();
    return app.exec();
}
