#include "shares/ShareWalker.h"

#include "shares/SearchTokens.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace
{

struct Entry
{
    std::string m_name;
    bool m_folder = false;
    qint64 m_size = 0;
    std::pair<quint64, quint64> m_id;  // a folder's device and inode
};

// Name order ignoring the case of ASCII letters; equal names then by bytes,
// so the order is total.
bool ListingOrder(const Entry& i_a, const Entry& i_b)
{
    const std::size_t l_size = std::min(i_a.m_name.size(), i_b.m_name.size());
    for (std::size_t l_index = 0; l_index < l_size; ++l_index) {
        auto l_fold = [](char i_char) {
            return static_cast<unsigned char>(i_char >= 'A' && i_char <= 'Z' ? i_char - 'A' + 'a' : i_char);
        };
        const unsigned char l_a = l_fold(i_a.m_name[l_index]);
        const unsigned char l_b = l_fold(i_b.m_name[l_index]);
        if (l_a != l_b)
            return l_a < l_b;
    }
    if (i_a.m_name.size() != i_b.m_name.size())
        return i_a.m_name.size() < i_b.m_name.size();
    return i_a.m_name < i_b.m_name;
}

// The folder's entries that the index takes: visible regular files and
// folders, links followed. False when the folder cannot be listed.
bool List(const std::string& i_path, std::vector<Entry>& o_entries, struct stat& o_self)
{
    DIR* lp_dir = opendir(i_path.c_str());
    if (!lp_dir)
        return false;
    const int l_fd = dirfd(lp_dir);
    if (fstat(l_fd, &o_self) != 0) {
        closedir(lp_dir);
        return false;
    }
    while (dirent* lp_entry = readdir(lp_dir)) {
        if (lp_entry->d_name[0] == '.')
            continue;
        struct stat l_stat;
        if (fstatat(l_fd, lp_entry->d_name, &l_stat, 0) != 0)
            continue;
        if (S_ISREG(l_stat.st_mode))
            o_entries.push_back({lp_entry->d_name, false, static_cast<qint64>(l_stat.st_size), {}});
        else if (S_ISDIR(l_stat.st_mode))
            o_entries.push_back({lp_entry->d_name, true, 0, {quint64(l_stat.st_dev), quint64(l_stat.st_ino)}});
    }
    closedir(lp_dir);
    std::sort(o_entries.begin(), o_entries.end(), ListingOrder);
    return true;
}

}  // namespace

void ShareWalker::Walk(quint64 i_walk, QByteArray i_root)
{
    if (m_stop)
        return;
    mp_batch = std::make_shared<WalkBatch>();
    mp_batch->m_walk = i_walk;
    m_batchFiles = 0;
    m_stack.clear();
    WalkFolder(i_root.toStdString());
    if (m_stop)
        return;
    Flush(true);
}

void ShareWalker::WalkFolder(const std::string& i_path)
{
    if (m_stop)
        return;
    std::vector<Entry> l_entries;
    struct stat l_self {};
    const bool l_listed = List(i_path, l_entries, l_self);

    WalkedFolder l_folder;
    l_folder.m_path = i_path;
    SearchTokens::AppendWords(i_path, l_folder.m_words);
    for (const Entry& l_entry : l_entries) {
        if (l_entry.m_folder)
            continue;
        WalkedFile l_file;
        l_file.m_name = l_entry.m_name;
        l_file.m_size = l_entry.m_size;
        // The name's words after the folder's: only the new ones are kept.
        std::vector<std::string> l_words = l_folder.m_words;
        SearchTokens::AppendWords(l_entry.m_name, l_words);
        l_file.m_words.assign(std::make_move_iterator(l_words.begin() + l_folder.m_words.size()),
                              std::make_move_iterator(l_words.end()));
        l_folder.m_files.push_back(std::move(l_file));
    }
    m_batchFiles += l_folder.m_files.size() + 1;
    mp_batch->m_folders.push_back(std::move(l_folder));
    if (m_batchFiles >= FilesPerBatch)
        Flush(false);
    if (!l_listed)
        return;

    m_stack.emplace_back(quint64(l_self.st_dev), quint64(l_self.st_ino));
    // Sub-folders take the parent's path as written, so a root shared as
    // "/data/music" gives "/data/music/rock" whatever the links on the way.
    const std::string l_prefix = !i_path.empty() && i_path.back() == '/' ? i_path : i_path + "/";
    for (const Entry& l_entry : l_entries) {
        if (!l_entry.m_folder || m_stop)
            continue;
        if (std::find(m_stack.begin(), m_stack.end(), l_entry.m_id) != m_stack.end())
            continue;
        WalkFolder(l_prefix + l_entry.m_name);
    }
    m_stack.pop_back();
}

void ShareWalker::Flush(bool i_last)
{
    mp_batch->m_last = i_last;
    const quint64 l_walk = mp_batch->m_walk;
    emit Walked(std::move(mp_batch));
    mp_batch = std::make_shared<WalkBatch>();
    mp_batch->m_walk = l_walk;
    m_batchFiles = 0;
}
