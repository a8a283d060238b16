#pragma once
// MapArray: one of a RoadMap's large arrays. It either owns its items (a map
// being imported or built in memory) or views them where they lie in a
// read-only file mapping (a map read from its cache), which stays mapped for
// as long as any view of it lives. Reading is the same either way and costs
// what a std::vector's does; changing a viewed array first copies it into
// memory of its own, so the file is never written through.

#include "service/map/huge_pages.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace tw::service {

template <typename T>
class MapArray {
public:
    static_assert(std::is_trivially_copyable_v<T>);
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;
    using size_type = std::size_t;

    MapArray() = default;
    MapArray(std::initializer_list<T> items) : m_own(items) { sync(); }
    MapArray(std::vector<T> items) : m_own(std::move(items)) { sync(); }
    MapArray(const MapArray& other) : m_own(other.m_own), m_keeper(other.m_keeper)
    {
        if (m_keeper) {
            m_data = other.m_data;
            m_size = other.m_size;
        } else {
            sync();
        }
    }
    MapArray(MapArray&& other) noexcept
        : m_own(std::move(other.m_own)), m_keeper(std::move(other.m_keeper)), m_data(other.m_data),
          m_size(other.m_size)
    {
        other.m_own.clear();
        other.m_keeper.reset();
        other.sync();
    }
    MapArray& operator=(MapArray other) noexcept
    {
        swap(other);
        return *this;
    }
    MapArray& operator=(std::vector<T> items)
    {
        m_keeper.reset();
        m_own = std::move(items);
        sync();
        return *this;
    }
    MapArray& operator=(std::initializer_list<T> items) { return *this = std::vector<T>(items); }
    void swap(MapArray& other) noexcept
    {
        // Swapping vectors keeps their buffers, so the cached pointers stay right.
        m_own.swap(other.m_own);
        m_keeper.swap(other.m_keeper);
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
    }

    // Views `items`, which `keeper` keeps alive (a mapped file).
    void view(std::span<const T> items, std::shared_ptr<const void> keeper)
    {
        std::vector<T>().swap(m_own);
        m_keeper = std::move(keeper);
        m_data = items.data();
        m_size = items.size();
    }
    // Lets go of the items, and of the memory or view that held them (of a
    // view, this process's pages of it).
    void release()
    {
        if (m_keeper) {
            dropMappedPages(m_data, m_size * sizeof(T));
        }
        MapArray().swap(*this);
    }
    // Returns whether the items lie in a file mapping rather than in memory
    // of this array's own.
    bool mapped() const { return m_keeper != nullptr; }

    // Reading.
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    const T* data() const { return m_data; }
    const T& operator[](std::size_t i) const { return m_data[i]; }
    const T* begin() const { return m_data; }
    const T* end() const { return m_data + m_size; }
    const T& front() const { return m_data[0]; }
    const T& back() const { return m_data[m_size - 1]; }
    operator std::span<const T>() const { return {m_data, m_size}; }

    friend bool operator==(const MapArray& a, const MapArray& b)
    {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

    // Changing (a viewed array is copied first). There is deliberately no
    // non-const operator[] or begin(): reading through a non-const array
    // would copy a mapped one without anyone noticing.
    T& modify(std::size_t i) { return own()[i]; }
    std::span<T> modify() { return own(); }
    template <typename... Args>
    T& emplace_back(Args&&... args)
    {
        T& item = own().emplace_back(std::forward<Args>(args)...);
        sync();
        return item;
    }
    void push_back(const T& item) { emplace_back(item); }
    void pop_back() { edit([](std::vector<T>& v) { v.pop_back(); }); }
    void clear() { edit([](std::vector<T>& v) { v.clear(); }); }
    void reserve(std::size_t n) { edit([n](std::vector<T>& v) { v.reserve(n); }); }
    void resize(std::size_t n, const T& value = T()) { edit([&](std::vector<T>& v) { v.resize(n, value); }); }
    void assign(std::size_t n, const T& value) { edit([&](std::vector<T>& v) { v.assign(n, value); }); }
    template <typename It>
    void assign(It first, It last)
    {
        edit([&](std::vector<T>& v) { v.assign(first, last); });
    }
    template <typename It>
    void append(It first, It last)
    {
        edit([&](std::vector<T>& v) { v.insert(v.end(), first, last); });
    }
    // reserve(n) on 2 MB pages, for the arrays a large map fills.
    void reserveOnHugePages(std::size_t n)
    {
        edit([n](std::vector<T>& v) { tw::service::reserveOnHugePages(v, n); });
    }
    // Runs `change` on the items as a vector of this array's own.
    template <typename Change>
    void edit(Change&& change)
    {
        change(own());
        sync();
    }

private:
    std::vector<T>& own()
    {
        if (m_keeper) {
            m_own.assign(m_data, m_data + m_size);
            m_keeper.reset();
            sync();
        }
        return m_own;
    }
    void sync()
    {
        m_data = m_own.data();
        m_size = m_own.size();
    }

    std::vector<T> m_own;
    std::shared_ptr<const void> m_keeper;  // the mapping viewed, if any
    const T* m_data = nullptr;
    std::size_t m_size = 0;
};

} // namespace tw::service
