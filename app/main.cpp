#include "ConvertApp.h"

int main(int argc, char** argv) {
    CConvertApp app;
    return app.Run(argc, argv);
}
