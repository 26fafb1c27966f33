#include "simulator/device_opens.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

std::shared_ptr<DeviceOpens> DeviceOpens::forThisThread()
{
    static thread_local std::weak_ptr<DeviceOpens> shared;
    std::shared_ptr<DeviceOpens> opens = shared.lock();
    if (!opens) {
        opens.reset(new DeviceOpens);
        shared = opens;
    }
    return opens;
}

DeviceOpens::~DeviceOpens()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

int DeviceOpens::watch(const QString& devicePath, std::function<void()> onOpen)
{
    if (fd_ < 0) {
        fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0)
            return 0;
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this] { readEvents(); });
    }
    const int id = ::inotify_add_watch(fd_, QFile::encodeName(devicePath).constData(), IN_OPEN);
    if (id < 0)
        return 0;
    watches_[id] = std::move(onOpen);
    return id;
}

void DeviceOpens::unwatch(int id)
{
    if (watches_.erase(id) > 0)
        ::inotify_rm_watch(fd_, id); // fails harmlessly when the device has gone already
}

void DeviceOpens::readEvents()
{
    alignas(inotify_event) char buffer[4096];
    std::vector<int> opened;
    for (;;) {
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno != EAGAIN && errno != EINTR)
                qWarning("reading the devices' opens: %s", std::strerror(errno));
            break;
        }
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_IGNORED)
                watches_.erase(event->wd);
            else if (event->mask & IN_OPEN)
                opened.push_back(event->wd);
            else if (event->mask & IN_Q_OVERFLOW) // some were lost: every line looks
                for (const auto& [id, onOpen] : watches_)
                    opened.push_back(id);
            at += ssize_t(sizeof(inotify_event)) + event->len;
        }
    }
    // Called after reading, by id, as a callback may watch or unwatch.
    for (const int id : opened) {
        if (const auto found = watches_.find(id); found != watches_.end())
            std::function<void()>(found->second)();
    }
}
