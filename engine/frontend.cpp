#include "engine/frontend.h"

#include "platform/questions.h"

namespace qb {

namespace {
// Stateless stand-ins for the parts a front end leaves out.
const INotifier kNoNotifier;
const IStatusLanes kNoStatus;
const ILogSink kNoLog;
const ICompletionHandler kNoCompletion;
const IApplication kNoApp;
const ISettingsSource kNoSettings;

template <typename T>
T& OrDefault(T* p, const T& fallback) {
    // The defaults have no state; calling them through a non-const
    // reference changes nothing.
    return p ? *p : const_cast<T&>(fallback);
}
} // namespace

INotifier& FrontEnd::Notifier() const {
    return OrDefault(notifier, kNoNotifier);
}
IStatusLanes& FrontEnd::Status() const {
    return OrDefault(status, kNoStatus);
}
ILogSink& FrontEnd::Log() const {
    return OrDefault(log, kNoLog);
}
ICompletionHandler& FrontEnd::Completion() const {
    return OrDefault(completion, kNoCompletion);
}
IApplication& FrontEnd::App() const {
    return OrDefault(app, kNoApp);
}
ISettingsSource& FrontEnd::Settings() const {
    return OrDefault(settings, kNoSettings);
}

int FrontEnd::MessageBox(const std::string& text, unsigned style) const {
    return questions ? questions->MessageBox(text, style) : IDOK;
}

} // namespace qb
