#include "app/corvane_app.h"

int main(int argc, char** argv)
{
    corvane::CCorvaneApp app(argc, argv);
    return app.Run();
}
