#include "platform/uHttpStream.h"

#include <utility>

namespace zelto {

bool THttpStream::Send(std::string_view data) {
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fClosed) return false;
        if (fUnsent + data.size() > fLimit) {
            // The client does not read: drop the stream rather than its data piling up here.
            fClosed = true;
            fPending.clear();
        } else {
            fPending.append(data);
            fUnsent += data.size();
        }
    }
    Wake();
    return !Closed();
}

void THttpStream::Close() {
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fClosed) return;
        fClosed = true;
    }
    Wake();
}

bool THttpStream::Closed() const {
    std::lock_guard<std::mutex> lock(fLock);
    return fClosed;
}

void THttpStream::SetNotify(std::function<void()> onWake) {
    std::lock_guard<std::mutex> lock(fLock);
    fOnWake = std::move(onWake);
}

std::string THttpStream::TakePending() {
    std::lock_guard<std::mutex> lock(fLock);
    return std::exchange(fPending, std::string());
}

void THttpStream::Written(std::size_t n) {
    std::lock_guard<std::mutex> lock(fLock);
    fUnsent = n > fUnsent ? 0 : fUnsent - n;
}

bool THttpStream::Finished() const {
    std::lock_guard<std::mutex> lock(fLock);
    return fClosed && fPending.empty();
}

void THttpStream::Abort() {
    std::lock_guard<std::mutex> lock(fLock);
    fClosed = true;
    fPending.clear();
    fUnsent = 0;
}

std::size_t THttpStream::Unsent() const {
    std::lock_guard<std::mutex> lock(fLock);
    return fUnsent;
}

void THttpStream::Wake() {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(fLock);
        wake = fOnWake;
    }
    if (wake) wake();
}

}  // namespace zelto
