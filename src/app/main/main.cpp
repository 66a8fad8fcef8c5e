// downloader2: started by the desktop for an install link ("downloader2 LINK").
#include "app/MyApp.h"

wxIMPLEMENT_APP_NO_MAIN(MyApp);

int main(int argc, char** argv) {
    return Downloader_Main(argc, argv);
}
