#pragma once
// The modules this session found on the line or gave an address, in the order it met them:
// what the overview starts from. Kept with the window, so every tool sees the same list.

#include <QList>
#include <QObject>

#include <algorithm>

namespace bus {

class KnownModules : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    static KnownModules &Of(QObject &window) {
        auto *known = window.findChild<KnownModules *>(QString(), Qt::FindDirectChildrenOnly);
        return known ? *known : *new KnownModules(&window);
    }
    void Add(int address) {
        if (!addresses_.contains(address))
            addresses_.append(address);
    }
    QList<int> Sorted() const {
        QList<int> sorted = addresses_;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

private:
    QList<int> addresses_;
};

} // namespace bus
