#pragma once
// NodeArena: the storage a document keeps its nodes in. Nodes are made in
// blocks of many at a time and destroyed together with the arena, one after the
// other: no recursion, few allocations, and a node's address never changes.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace tw::web {

template <typename T> class NodeArena {
public:
    NodeArena() = default;
    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    ~NodeArena()
    {
        for (std::size_t b = 0; b < m_blocks.size(); ++b) {
            const std::size_t used = (b + 1 == m_blocks.size()) ? m_usedInLast : kBlockSize;
            T* items = reinterpret_cast<T*>(m_blocks[b].get());
            for (std::size_t i = 0; i < used; ++i)
                items[i].~T();
        }
    }

    // Constructs a T from `args` in the arena and returns it.
    template <typename... Args> T* make(Args&&... args)
    {
        if (m_blocks.empty() || m_usedInLast == kBlockSize) {
            // Raw storage, left uninitialised: each slot is constructed when used.
            m_blocks.push_back(std::unique_ptr<Storage[]>(new Storage[kBlockSize]));
            m_usedInLast = 0;
        }
        T* item = new (&m_blocks.back()[m_usedInLast]) T(std::forward<Args>(args)...);
        ++m_usedInLast;
        return item;
    }

private:
    static constexpr std::size_t kBlockSize = 256;
    struct Storage {
        alignas(T) std::byte bytes[sizeof(T)];
    };

    std::vector<std::unique_ptr<Storage[]>> m_blocks;
    std::size_t m_usedInLast = 0;
};

} // namespace tw::web
