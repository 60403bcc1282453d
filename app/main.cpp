#include "application.h"
#include "form1.h"
#include "identity.h"

int main(int argc, char **argv)
{
    ui::Application app(argc, argv);
    setUpIdentity(app);
    Form1 window;
    window.show();
    return app.exec();
}
