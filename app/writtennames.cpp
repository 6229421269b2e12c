#include "app/writtennames.h"

#include <functional>
#include <string_view>

#include "app/except.h"

uint64_t CWrittenNames::Key(std::string_view path)
{
    return std::hash<std::string_view>{}(path);
}

bool CWrittenNames::Collides(std::string_view path, bool changed, std::string_view source)
{
    const auto found = m_changed.empty() ? m_changed.end() : m_changed.find(std::string(path));
    if (found != m_changed.end())
        return found->second != source;
    if (!changed)
        return false;
    // A path that no changed name took: any earlier entry there came from
    // an unchanged name, which can not be this changed name's source.
    if (!m_indexed) {
        m_keySet.insert(m_keys.begin(), m_keys.end());
        m_keys.clear();
        m_keys.shrink_to_fit();
        m_indexed = true;
    }
    return m_keySet.count(Key(path)) != 0;
}

void CWrittenNames::Note(std::string_view path, bool changed, std::string_view source)
{
    if (m_indexed)
        m_keySet.insert(Key(path));
    else
        m_keys.push_back(Key(path));
    if (changed)
        m_changed.emplace(std::string(path), std::string(source));
}

std::string ChangedNameNotice(const std::string& name, const std::string& storedUtf8)
{
    return "KOVZEF: " + KovShown(name) + ": name changed, the local code page cannot hold the stored name \"" +
           KovEscapedBytes(storedUtf8) + "\"";
}
