#include "engine/uControls.h"

#include "engine/uMainThread.h"

#include <QCoreApplication>
#include <atomic>

namespace {

class TDefaultApplication : public TApplicationControl {
public:
    void CloseMainWindow() override {}
    void ProcessEvents() override {
        if (QCoreApplication::instance() && IsMainThread()) {
            QCoreApplication::processEvents();
            ServeHandOffs();
        }
    }
};

TDefaultApplication GDefaultApplication;
std::atomic<TApplicationControl*> GApplication{nullptr};

}  // namespace

TApplicationControl* Application() {
    TApplicationControl* A = GApplication.load();
    return A ? A : &GDefaultApplication;
}

void SetApplication(TApplicationControl* AApplication) {
    GApplication.store(AApplication);
}
