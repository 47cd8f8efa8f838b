#pragma once
// A control array: window elements that share a name and are told apart by a small
// index, which need not be contiguous (Label2 has 1, 3, 6, 7 and 13). Looking up an index
// without an element gives nullptr instead of failing.

#include <map>
#include <vector>

template <typename T> class ControlArray {
public:
    void add(int index, T *element) { elements_[index] = element; }

    T *operator()(int index) const {
        const auto it = elements_.find(index);
        return it == elements_.end() ? nullptr : it->second;
    }

    std::vector<int> indexes() const {
        std::vector<int> result;
        for (const auto &entry : elements_)
            result.push_back(entry.first);
        return result;
    }

private:
    std::map<int, T *> elements_;
};
