#include "window/fileexistence.h"

#include "reconcile/missingfiles.h"

#include <QAbstractItemView>
#include <QFile>
#include <QHelpEvent>
#include <QToolTip>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace kalvero::window {

namespace {
// Enough that one hanging share does not hold up the paths on other disks.
constexpr int kWorkers = 3;
}  // namespace

// What the window's thread and the workers share. The workers own a share of
// it, so it outlives a FileExistence whose workers are still stuck in the
// file system.
struct FileExistence::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    // Newest first: the rows just scrolled to matter most.
    std::deque<QString> queue;
    struct Answer {
        QString path;
        bool missing = false;
        // When the file is missing because its drive is not connected.
        QString drive;
    };
    std::vector<Answer> results;
    // The mounted drives as they were at the last clear().
    reconcile::Volumes volumes = reconcile::currentVolumes();
    quint64 generation = 0;
    bool stopping = false;
    // Where to announce results; null once the owner is gone.
    FileExistence* owner = nullptr;
    bool announced = false;

    void work() {
        std::unique_lock lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping) return;
            const QString path = std::move(queue.front());
            queue.pop_front();
            const quint64 asked = generation;
            const reconcile::Volumes drives = volumes;
            lock.unlock();
            const bool missing = reconcile::isSoundFileMissing(path);
            const QString drive =
                missing ? QFile::decodeName(drives.offlineDrive(QFile::encodeName(path)))
                        : QString();
            lock.lock();
            if (stopping) return;
            if (asked != generation) continue;
            results.push_back({path, missing, drive});
            if (!announced && owner) {
                announced = true;
                QMetaObject::invokeMethod(owner, &FileExistence::collect, Qt::QueuedConnection);
            }
        }
    }
};

FileExistence::FileExistence(QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
    for (int i = 0; i < kWorkers; ++i) {
        std::thread([shared = shared_] { shared->work(); }).detach();
    }
}

FileExistence::~FileExistence() {
    std::lock_guard lock(shared_->mutex);
    shared_->stopping = true;
    shared_->owner = nullptr;
    shared_->queue.clear();
    shared_->wake.notify_all();
}

FileExistence::State FileExistence::state(const QString& path) {
    const auto found = known_.constFind(path);
    if (found != known_.constEnd()) return *found;
    known_.insert(path, State::Unknown);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->queue.push_front(path);
    }
    shared_->wake.notify_one();
    return State::Unknown;
}

void FileExistence::clear() {
    known_.clear();
    drives_.clear();
    reconcile::Volumes volumes = reconcile::currentVolumes();
    std::lock_guard lock(shared_->mutex);
    shared_->volumes = std::move(volumes);
    ++shared_->generation;
    shared_->queue.clear();
    shared_->results.clear();
}

void FileExistence::collect() {
    std::vector<Shared::Answer> results;
    {
        std::lock_guard lock(shared_->mutex);
        results.swap(shared_->results);
        shared_->announced = false;
    }
    bool changed = false;
    for (Shared::Answer& answer : results) {
        auto it = known_.find(answer.path);
        // A path forgotten by clear() meanwhile is asked again when drawn.
        if (it == known_.end()) continue;
        *it = !answer.missing ? State::Present
                              : (answer.drive.isEmpty() ? State::Missing : State::Offline);
        if (*it == State::Offline) drives_.insert(answer.path, answer.drive);
        changed = true;
    }
    if (changed) emit checked();
}

MissingFileDelegate::MissingFileDelegate(QAbstractItemView* view)
    : QStyledItemDelegate(view), existence_(new FileExistence(this)) {
    connect(existence_, &FileExistence::checked, view->viewport(),
            [view] { view->viewport()->update(); });
}

bool MissingFileDelegate::isMissing(const QModelIndex& index) const {
    if (!index.isValid() || index.model()->columnCount(index.parent()) <= kPathColumn) return false;
    const QString path = index.siblingAtColumn(kPathColumn).data(Qt::DisplayRole).toString();
    const FileExistence::State state = existence_->state(path);
    return state == FileExistence::State::Missing || state == FileExistence::State::Offline;
}

QString MissingFileDelegate::missingToolTip(const QModelIndex& index) const {
    if (!isMissing(index)) return {};
    const QString path = index.siblingAtColumn(kPathColumn).data(Qt::DisplayRole).toString();
    const QString drive = existence_->offlineDrive(path);
    return drive.isEmpty() ? missingText() : offlineText(drive);
}

void MissingFileDelegate::initStyleOption(QStyleOptionViewItem* option,
                                          const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    if (!isMissing(index)) return;
    const QPalette& palette = option->palette;
    option->palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    option->palette.setColor(QPalette::HighlightedText,
                             palette.color(QPalette::Disabled, QPalette::HighlightedText));
    if (index.column() == kPathColumn) option->font.setItalic(true);
}

bool MissingFileDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                    const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event && event->type() == QEvent::ToolTip && isMissing(index)) {
        QToolTip::showText(event->globalPos(), missingToolTip(index), view);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

}  // namespace kalvero::window
