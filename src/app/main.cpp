#include "app/codec_test_app.h"

int main(int argc, char** argv) {
    tallox::CCodecTestApp app(argc, argv);
    return app.Run();
}
