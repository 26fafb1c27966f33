#pragma once

#include <QString>

#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;

// Tells when a device is opened, for every simulated line of a thread through one inotify
// instance (a user has only 128 of them, and sixteen controllers per simulator would soon take
// them all). The news is a hint to look, not a count: the kernel folds repeated events. The
// lines share it and it ends with the last of them, in their thread.
class DeviceOpens {
public:
    static std::shared_ptr<DeviceOpens> forThisThread();
    ~DeviceOpens();
    DeviceOpens(const DeviceOpens&) = delete;
    DeviceOpens& operator=(const DeviceOpens&) = delete;

    // Calls onOpen (soon, from the event loop) whenever devicePath is opened; 0 with errno set
    // when the device cannot be watched. The watch ends with unwatch() or when the device goes.
    int watch(const QString& devicePath, std::function<void()> onOpen);
    void unwatch(int id);

private:
    DeviceOpens() = default;
    void readEvents();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::map<int, std::function<void()>> watches_;
};
