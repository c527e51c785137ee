// The roots of the library's containers and its doubly linked list with one
// cursor.
#pragma once

#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace korrin {

class TObject {
public:
    virtual ~TObject() = default;
};

class collection : public TObject {
public:
    virtual unsigned count() const = 0;
    virtual void clear() = 0;
};

// Precondition failures of the containers stop the process with the file,
// line and failed condition, as assert() does, but also in release builds.
[[noreturn]] inline void precondition_failed(const char* cond, const char* file, int line)
{
    std::fprintf(stderr, "%s:%d: precondition failed: %s\n", file, line, cond);
    std::abort();
}
#define KORRIN_REQUIRE(cond) \
    ((cond) ? static_cast<void>(0) : ::korrin::precondition_failed(#cond, __FILE__, __LINE__))

// A doubly linked list. An owning list stores heap copies of the values it is
// given and deletes them in clear(); a non-owning one stores the caller's
// addresses, and the caller keeps the values alive for as long as the list.
template <class T>
class list : public collection {
    struct lnode {
        lnode* next;
        lnode* prev;
        T* value;
    };

public:
    explicit list(bool owns = true) : owns_(owns) {}
    list(const list&) = delete;
    list& operator=(const list&) = delete;
    list(list&& other) noexcept
        : first_(other.first_), last_(other.last_), current_(other.current_),
          count_(other.count_), owns_(other.owns_)
    {
        other.first_ = other.last_ = other.current_ = nullptr;
        other.count_ = 0;
    }
    ~list() override { clear(); }

    bool owns() const { return owns_; }

    // An owning list copies `value`; a non-owning one keeps its address.
    list& append(const T& value)
    {
        T* stored = owns_ ? new T(value) : const_cast<T*>(&value);
        lnode* node = new lnode{nullptr, last_, stored};
        if (last_)
            last_->next = node;
        else
            first_ = current_ = node;
        last_ = node;
        ++count_;
        return *this;
    }

    unsigned count() const override { return count_; }

    void clear() override
    {
        lnode* node = first_;
        while (node) {
            lnode* next = node->next;
            if (owns_)
                delete node->value;
            delete node;
            node = next;
        }
        first_ = last_ = current_ = nullptr;
        count_ = 0;
    }

    // Moves the cursor to the first node; false when it was there already or
    // the list is empty.
    bool toFirst()
    {
        if (!first_ || current_ == first_)
            return false;
        current_ = first_;
        return true;
    }

    // Moves the cursor up to n nodes forward, stopping at the last node, and
    // returns how many nodes it moved.
    unsigned skipForward(unsigned n)
    {
        unsigned moved = 0;
        if (!current_)
            return 0;
        while (moved < n && current_->next) {
            current_ = current_->next;
            ++moved;
        }
        return moved;
    }

    T& current() const
    {
        KORRIN_REQUIRE(current_ != nullptr);
        return *current_->value;
    }

    // A copy of every value in list order, for the caller.
    std::unique_ptr<T[]> toArray() const
    {
        std::unique_ptr<T[]> out(new T[count_]);
        unsigned i = 0;
        for (lnode* node = first_; node; node = node->next)
            out[i++] = *node->value;
        return out;
    }

    // Read-only iteration for range-for; it does not move the cursor.
    class const_iterator {
    public:
        explicit const_iterator(const lnode* n) : node_(n) {}
        const T& operator*() const { return *node_->value; }
        const T* operator->() const { return node_->value; }
        const_iterator& operator++()
        {
            node_ = node_->next;
            return *this;
        }
        bool operator==(const const_iterator& o) const { return node_ == o.node_; }
        bool operator!=(const const_iterator& o) const { return node_ != o.node_; }

    private:
        const lnode* node_;
    };
    const_iterator begin() const { return const_iterator(first_); }
    const_iterator end() const { return const_iterator(nullptr); }

private:
    lnode* first_ = nullptr;
    lnode* last_ = nullptr;
    lnode* current_ = nullptr;
    unsigned count_ = 0;
    bool owns_;
};

} // namespace korrin
