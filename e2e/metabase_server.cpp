// metabase.dll: an in-process COM server that stands in for the IIS admin
// base object (IMSAdminBaseW) in a Wine prefix, so that the uninstaller's
// filter removal can be tested without a web server. The suite registers it
// under CLSID {A9E69610-B80D-11D0-B9B9-00A0C922E750}.
//
// It keeps a tree of keys ("/LM/W3SVC/Filters") each holding data items,
// with IIS's rules: paths are relative to a handle, case-insensitive, '/'
// or '\' separated, leading, trailing and doubled separators ignored; a
// handle opened for writing locks its key, its parents and its subkeys
// against any other open, a read handle against write opens; the master
// root handle (0) is always open, read-only, and locks nothing.
//
// Environment (Windows paths):
//   QV_METABASE          the store file: read when an object is created while
//                        no other is alive, rewritten (temporary file, then
//                        replace) after every DeleteKey, SetData and AddKey
//   QV_METABASE_JOURNAL  one JSON line per call is appended here
//   QV_METABASE_FAIL     "Call=HRESULT[,Call#N=HRESULT...]": that call (every
//                        time, or only its Nth time) returns the HRESULT
//                        without doing anything; names are those journalled,
//                        DllGetClassObject and CreateInstance included
//
// Store file: UTF-8, one record a line, fields separated by one tab;
// blank lines and lines starting with '#' are ignored:
//   key  <TAB> /LM/W3SVC/Filters
//   data <TAB> /LM/W3SVC/Filters <TAB> id <TAB> attributes <TAB> user type
//        <TAB> data type <TAB> value
// Paths are absolute; a key's parents exist implicitly; "/" is the root.
// Numbers are decimal (0x... also read). The value depends on the type:
// DWORD (1) a number; STRING (2) and EXPANDSZ (4) the text without its
// terminating NUL, with \\ \t \n \r escaped; BINARY (3) and MULTISZ (5)
// the bytes in hex (MULTISZ as UTF-16LE, both NULs included).
#include <windows.h>
#include <ole2.h>
#include <iadmw.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "jsonline.h"

static const CLSID kClsidAdminBase = {0xa9e69610, 0xb80d, 0x11d0, {0xb9, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0xe7, 0x50}};
static const IID kIidAdminBase = {0x70b51430, 0xb6ca, 0x11d0, {0xb9, 0xb9, 0x00, 0xa0, 0xc9, 0x22, 0xe7, 0x50}};

static const DWORD kNameMax = METADATA_MAX_NAME_LEN - 1;  // the limit counts the NUL
static const HRESULT kPathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
static const HRESULT kInvalidHandle = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
static const HRESULT kAccessDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

// -- text helpers --------------------------------------------------------

static std::string Utf8(const std::wstring& w)
{
    if (w.empty())
        return "";
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &out[0], n, NULL, NULL);
    return out;
}

static std::wstring Wide(const std::string& s)
{
    if (s.empty())
        return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), NULL, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), &out[0], n);
    return out;
}

static std::wstring Fold(std::wstring s)
{
    if (!s.empty())
        CharUpperBuffW(&s[0], (DWORD)s.size());
    return s;
}

static std::wstring EnvW(const wchar_t* name)
{
    wchar_t buf[2048];
    DWORD n = GetEnvironmentVariableW(name, buf, 2048);
    return n == 0 || n >= 2048 ? L"" : std::wstring(buf, n);
}

static std::string Hex(const std::vector<BYTE>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (BYTE b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

static bool Unhex(const std::string& s, std::vector<BYTE>& out)
{
    if (s.size() % 2)
        return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        char* end;
        std::string pair = s.substr(i, 2);
        unsigned long v = strtoul(pair.c_str(), &end, 16);
        if (*end || !isxdigit((unsigned char)pair[0]))
            return false;
        out.push_back((BYTE)v);
    }
    return true;
}

static bool Number(const std::string& s, DWORD& out)
{
    if (s.empty())
        return false;
    char* end;
    out = strtoul(s.c_str(), &end, 0);
    return *end == '\0';
}

static std::string Escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
    return out;
}

static std::string Unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        char c = s[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

static bool IsText(DWORD type)
{
    return type == STRING_METADATA || type == EXPANDSZ_METADATA;
}

// -- journal -------------------------------------------------------------

// Appends go out in one write each, retried while another process of the
// prefix (a stand-in, say) holds the file.
static void Append(const std::string& line)
{
    std::wstring path = EnvW(L"QV_METABASE_JOURNAL");
    if (path.empty())
        return;
    for (int attempt = 0; attempt < 200; ++attempt) {
        HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD written;
            WriteFile(h, line.data(), (DWORD)line.size(), &written, NULL);
            CloseHandle(h);
            return;
        }
        Sleep(10);
    }
}

static std::string GuidText(REFGUID g)
{
    wchar_t buf[40];
    StringFromGUID2(g, buf, 40);
    return Utf8(buf);
}

class Line {
public:
    explicit Line(const char* call) : text_("{\"call\":" + Quote(call)) {}
    Line& Num(const char* key, unsigned long long v) { return Raw(key, std::to_string(v)); }
    Line& Str(const char* key, const std::string& v) { return Raw(key, Quote(v)); }
    Line& Str(const char* key, const std::wstring& v) { return Str(key, Utf8(v)); }
    Line& Path(const char* key, LPCWSTR v) { return v ? Str(key, std::wstring(v)) : Raw(key, "null"); }
    Line& Guid(const char* key, REFGUID g) { return Str(key, GuidText(g)); }
    Line& Raw(const char* key, const std::string& json)
    {
        text_ += ",\"" + std::string(key) + "\":" + json;
        return *this;
    }
    void Write() { Append(text_ + ",\"t\":" + std::to_string(NowMs()) + "}\n"); }

private:
    std::string text_;
};

// The value of an item as journal fields: text for the string types, a
// number for DWORD, hex for the rest.
static void DataFields(Line& line, const char* prefix, DWORD type, const std::vector<BYTE>& bytes)
{
    std::string p = prefix;
    if (IsText(type)) {
        std::wstring s((const wchar_t*)bytes.data(), bytes.size() / 2);
        size_t nul = s.find(L'\0');
        line.Str((p + "data").c_str(), nul == std::wstring::npos ? s : s.substr(0, nul));
    } else if (type == DWORD_METADATA && bytes.size() == 4) {
        line.Num((p + "dword").c_str(), *(const DWORD*)bytes.data());
    } else {
        line.Str((p + "hex").c_str(), Hex(bytes));
    }
}

// -- fault injection -------------------------------------------------------

static CRITICAL_SECTION g_lock;

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
};

static std::map<std::string, unsigned> g_callCounts;

// Counts this call and tells whether QV_METABASE_FAIL makes it fail.
static bool Injected(const std::string& call, HRESULT& hr)
{
    unsigned nth;
    {
        Lock lock;
        nth = ++g_callCounts[call];
    }
    std::string setting = Utf8(EnvW(L"QV_METABASE_FAIL"));
    size_t start = 0;
    while (start <= setting.size()) {
        size_t comma = setting.find(',', start);
        std::string entry = setting.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? setting.size() + 1 : comma + 1;
        size_t eq = entry.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = entry.substr(0, eq), value = entry.substr(eq + 1);
        while (!name.empty() && name.front() == ' ')
            name.erase(0, 1);
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        size_t hash = name.find('#');
        unsigned only = 0;
        if (hash != std::string::npos) {
            only = strtoul(name.c_str() + hash + 1, NULL, 10);
            name.resize(hash);
        }
        DWORD code;
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        while (!value.empty() && value.back() == ' ')
            value.pop_back();
        if (_stricmp(name.c_str(), call.c_str()) == 0 && (only == 0 || only == nth) && Number(value, code)) {
            hr = (HRESULT)code;
            return true;
        }
    }
    return false;
}

// One journalled call: its arguments go into `line` as they are known, the
// result and out values at the end.
struct Call {
    explicit Call(const char* name) : line(name) { failed = Injected(name, injected); }
    HRESULT Done(HRESULT hr)
    {
        line.Num("hr", (DWORD)hr);
        if (failed)
            line.Raw("injected", "true");
        line.Write();
        return hr;
    }
    Line line;
    bool failed;
    HRESULT injected = S_OK;
};

// -- the metabase ------------------------------------------------------------

struct Item {
    DWORD attributes = 0, userType = 0, dataType = 0;
    std::vector<BYTE> bytes;
};

struct Key {
    std::wstring name;
    Key* parent = nullptr;
    std::vector<std::unique_ptr<Key>> children;
    std::map<DWORD, Item> data;

    Key* Child(const std::wstring& wanted)
    {
        std::wstring folded = Fold(wanted);
        for (auto& c : children)
            if (Fold(c->name) == folded)
                return c.get();
        return nullptr;
    }
    Key* AddChild(const std::wstring& childName)
    {
        children.emplace_back(new Key);
        children.back()->name = childName;
        children.back()->parent = this;
        return children.back().get();
    }
};

struct OpenHandle {
    Key* key;
    DWORD access;
};

static std::unique_ptr<Key> g_root;
static std::map<DWORD, OpenHandle> g_handles;
static DWORD g_nextHandle = 1;
static LONG g_objects = 0;  // live admin base objects
static LONG g_locks = 0;    // IClassFactory::LockServer and live factories

static std::vector<std::wstring> Split(LPCWSTR path)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t* p = path ? path : L""; ; ++p) {
        if (*p == L'/' || *p == L'\\' || *p == L'\0') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
            if (*p == L'\0')
                break;
        } else {
            part += *p;
        }
    }
    return parts;
}

static std::wstring AbsolutePath(const Key* key)
{
    std::wstring path;
    for (; key && key->parent; key = key->parent)
        path = L"/" + key->name + path;
    return path.empty() ? L"/" : path;
}

// The deepest existing key along `parts` from `base`; `found` counts the
// parts matched.
static Key* Walk(Key* base, const std::vector<std::wstring>& parts, size_t& found)
{
    Key* key = base;
    for (found = 0; found < parts.size(); ++found) {
        Key* next = key->Child(parts[found]);
        if (!next)
            break;
        key = next;
    }
    return key;
}

static Key* Resolve(Key* base, LPCWSTR path)
{
    std::vector<std::wstring> parts = Split(path);
    size_t found;
    Key* key = Walk(base, parts, found);
    return found == parts.size() ? key : nullptr;
}

static bool IsWithin(const Key* inner, const Key* outer)
{
    for (; inner; inner = inner->parent)
        if (inner == outer)
            return true;
    return false;
}

// The key a handle stands for, with its access; the master root is read-only.
static bool Lookup(METADATA_HANDLE h, Key*& key, DWORD& access)
{
    if (h == METADATA_MASTER_ROOT_HANDLE) {
        key = g_root.get();
        access = METADATA_PERMISSION_READ;
        return true;
    }
    auto it = g_handles.find(h);
    if (it == g_handles.end())
        return false;
    key = it->second.key;
    access = it->second.access;
    return true;
}

static bool Busy(const Key* key, DWORD access)
{
    for (auto& h : g_handles) {
        const Key* other = h.second.key;
        bool related = IsWithin(key, other) || IsWithin(other, key);
        if (related && ((access | h.second.access) & METADATA_PERMISSION_WRITE))
            return true;
    }
    return false;
}

// -- store file ----------------------------------------------------------------

static std::vector<std::string> Fields(const std::string& line)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        out.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return out;
        start = tab + 1;
    }
}

static Key* MakePath(const std::wstring& path)
{
    Key* key = g_root.get();
    for (const std::wstring& part : Split(path.c_str())) {
        Key* next = key->Child(part);
        key = next ? next : key->AddChild(part);
    }
    return key;
}

static bool ParseLine(const std::string& line)
{
    std::vector<std::string> f = Fields(line);
    if (f[0] == "key" && f.size() == 2) {
        MakePath(Wide(f[1]));
        return true;
    }
    if (f[0] != "data" || f.size() != 7)
        return false;
    DWORD id;
    Item item;
    if (!Number(f[2], id) || !Number(f[3], item.attributes) || !Number(f[4], item.userType) ||
        !Number(f[5], item.dataType))
        return false;
    if (IsText(item.dataType)) {
        std::wstring text = Wide(Unescape(f[6]));
        text += L'\0';
        const BYTE* p = (const BYTE*)text.data();
        item.bytes.assign(p, p + text.size() * 2);
    } else if (item.dataType == DWORD_METADATA) {
        DWORD v;
        if (!Number(f[6], v))
            return false;
        item.bytes.assign((const BYTE*)&v, (const BYTE*)&v + 4);
    } else if (item.dataType == BINARY_METADATA || item.dataType == MULTISZ_METADATA) {
        if (!Unhex(f[6], item.bytes))
            return false;
    } else {
        return false;
    }
    MakePath(Wide(f[1]))->data[id] = item;
    return true;
}

static void Load()
{
    g_root.reset(new Key);
    g_handles.clear();
    std::wstring path = EnvW(L"QV_METABASE");
    Line line("Load");
    line.Str("store", path);
    if (path.empty()) {
        line.Write();
        return;
    }
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        line.Num("error", GetLastError()).Write();
        return;
    }
    std::string text;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got)
        text.append(buf, got);
    CloseHandle(h);
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.erase(0, 3);

    std::string bad;
    unsigned number = 0, keys = 0, items = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        std::string l = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        ++number;
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (l.empty() || l[0] == '#')
            continue;
        if (!ParseLine(l))
            bad += (bad.empty() ? "" : ",") + std::to_string(number);
        else if (l[0] == 'k')
            ++keys;
        else
            ++items;
    }
    line.Num("keys", keys).Num("items", items).Raw("bad_lines", "[" + bad + "]").Write();
}

static void Dump(const Key* key, std::string& out)
{
    std::string path = Utf8(AbsolutePath(key));
    if (key->parent)
        out += "key\t" + path + "\n";
    for (auto& d : key->data) {
        const Item& item = d.second;
        out += "data\t" + path + "\t" + std::to_string(d.first) + "\t" + std::to_string(item.attributes) + "\t" +
               std::to_string(item.userType) + "\t" + std::to_string(item.dataType) + "\t";
        if (IsText(item.dataType)) {
            std::wstring s((const wchar_t*)item.bytes.data(), item.bytes.size() / 2);
            size_t nul = s.find(L'\0');
            out += Escape(Utf8(nul == std::wstring::npos ? s : s.substr(0, nul)));
        } else if (item.dataType == DWORD_METADATA && item.bytes.size() == 4) {
            out += std::to_string(*(const DWORD*)item.bytes.data());
        } else {
            out += Hex(item.bytes);
        }
        out += "\n";
    }
    for (auto& c : key->children)
        Dump(c.get(), out);
}

// A reader never sees half a file: the new text goes to a temporary file
// that then replaces the store.
static void Save()
{
    std::wstring path = EnvW(L"QV_METABASE");
    if (path.empty())
        return;
    std::string text = "# metabase store\n";
    Dump(g_root.get(), text);
    std::wstring temp = path + L".tmp";
    DWORD error = 0;
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        error = GetLastError();
    } else {
        DWORD written = 0;
        if (!WriteFile(h, text.data(), (DWORD)text.size(), &written, NULL) || written != text.size())
            error = GetLastError();
        CloseHandle(h);
        if (!error && !MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
            error = GetLastError();
    }
    if (error)
        Line("Save").Str("store", path).Num("error", error).Write();
}

// -- the admin base object --------------------------------------------------------

class AdminBase : public IMSAdminBaseW {
public:
    AdminBase() { InterlockedIncrement(&g_objects); }
    virtual ~AdminBase() {}

    // Gone with the last object are the handles still open, as the server
    // drops them when its client goes away; returns them as a JSON list.
    static std::string Retire()
    {
        Lock lock;
        std::string open;
        if (--g_objects == 0) {
            for (auto& h : g_handles)
                open += (open.empty() ? "" : ",") + std::to_string(h.first);
            g_handles.clear();
        }
        return "[" + open + "]";
    }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override
    {
        Call c("QueryInterface");
        c.line.Guid("iid", riid);
        if (c.failed)
            return c.Done(c.injected);
        if (!ppv)
            return c.Done(E_POINTER);
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, kIidAdminBase)) {
            *ppv = static_cast<IMSAdminBaseW*>(this);
            InterlockedIncrement(&refs_);
            return c.Done(S_OK);
        }
        *ppv = NULL;
        return c.Done(E_NOINTERFACE);
    }

    ULONG WINAPI AddRef() override
    {
        LONG n = InterlockedIncrement(&refs_);
        Line("AddRef").Num("refs", n).Write();
        return n;
    }

    ULONG WINAPI Release() override
    {
        LONG n = InterlockedDecrement(&refs_);
        Line line("Release");
        line.Num("refs", n);
        if (n == 0) {
            line.Raw("open_handles", Retire());
            delete this;
        }
        line.Write();
        return n;
    }

    HRESULT WINAPI OpenKey(METADATA_HANDLE h, LPCWSTR path, DWORD access, DWORD timeout,
                           PMETADATA_HANDLE newHandle) override
    {
        Call c("OpenKey");
        c.line.Num("handle", h).Path("path", path).Num("access", access).Num("timeout", timeout);
        if (c.failed)
            return c.Done(c.injected);
        DWORD start = GetTickCount();
        for (;;) {
            HRESULT hr;
            {
                Lock lock;
                Key* base;
                DWORD baseAccess;
                Key* key = nullptr;
                if (!Lookup(h, base, baseAccess))
                    hr = kInvalidHandle;
                else if (!newHandle || !(access & (METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE)))
                    hr = E_INVALIDARG;
                else if (!(key = Resolve(base, path)))
                    hr = kPathNotFound;
                else if (Busy(key, access))
                    hr = HRESULT_FROM_WIN32(ERROR_PATH_BUSY);
                else {
                    DWORD id = g_nextHandle++;
                    g_handles[id] = OpenHandle{key, access & (METADATA_PERMISSION_READ | METADATA_PERMISSION_WRITE)};
                    *newHandle = id;
                    c.line.Str("key", AbsolutePath(key)).Num("new_handle", id);
                    return c.Done(S_OK);
                }
                if (key)
                    c.line.Str("key", AbsolutePath(key));
            }
            // Only a busy path is worth waiting for, and only as long as asked.
            if (hr != HRESULT_FROM_WIN32(ERROR_PATH_BUSY) || GetTickCount() - start >= timeout)
                return c.Done(hr);
            Sleep(10);
        }
    }

    HRESULT WINAPI CloseKey(METADATA_HANDLE h) override
    {
        Call c("CloseKey");
        c.line.Num("handle", h);
        if (c.failed)
            return c.Done(c.injected);
        Lock lock;
        auto it = g_handles.find(h);
        if (it == g_handles.end())
            return c.Done(kInvalidHandle);
        c.line.Str("key", AbsolutePath(it->second.key));
        g_handles.erase(it);
        return c.Done(S_OK);
    }

    HRESULT WINAPI AddKey(METADATA_HANDLE h, LPCWSTR path) override
    {
        Call c("AddKey");
        c.line.Num("handle", h).Path("path", path);
        if (c.failed)
            return c.Done(c.injected);
        Lock lock;
        Key* base;
        DWORD access;
        if (!Lookup(h, base, access))
            return c.Done(kInvalidHandle);
        if (!path)
            return c.Done(E_INVALIDARG);
        if (!(access & METADATA_PERMISSION_WRITE))
            return c.Done(kAccessDenied);
        std::vector<std::wstring> parts = Split(path);
        for (const std::wstring& part : parts)
            if (part.size() > kNameMax)
                return c.Done(HRESULT_FROM_WIN32(ERROR_INVALID_NAME));
        size_t found;
        Key* key = Walk(base, parts, found);
        if (found == parts.size())
            return c.Done(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
        for (; found < parts.size(); ++found)
            key = key->AddChild(parts[found]);
        c.line.Str("key", AbsolutePath(key));
        Save();
        return c.Done(S_OK);
    }

    HRESULT WINAPI DeleteKey(METADATA_HANDLE h, LPCWSTR path) override
    {
        Call c("DeleteKey");
        c.line.Num("handle", h).Path("path", path);
        if (c.failed)
            return c.Done(c.injected);
        Lock lock;
        Key* base;
        DWORD access;
        if (!Lookup(h, base, access))
            return c.Done(kInvalidHandle);
        if (!path)
            return c.Done(E_INVALIDARG);
        if (!(access & METADATA_PERMISSION_WRITE))
            return c.Done(kAccessDenied);
        Key* key = Resolve(base, path);
        if (!key)
            return c.Done(kPathNotFound);
        c.line.Str("key", AbsolutePath(key));
        // The handle's own key (or the root) cannot go while it is open.
        if (key == base || !key->parent)
            return c.Done(E_INVALIDARG);
        // A write handle on a parent keeps every other handle out of the
        // subtree; this drops any that slipped past (none should).
        for (auto it = g_handles.begin(); it != g_handles.end();)
            it = IsWithin(it->second.key, key) ? g_handles.erase(it) : std::next(it);
        auto& siblings = key->parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it)
            if (it->get() == key) {
                siblings.erase(it);
                break;
            }
        Save();
        return c.Done(S_OK);
    }

    HRESULT WINAPI GetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD record, DWORD* required) override
    {
        Call c("GetData");
        c.line.Num("handle", h).Path("path", path);
        if (record)
            c.line.Num("id", record->dwMDIdentifier)
                .Num("attributes", record->dwMDAttributes)
                .Num("user_type", record->dwMDUserType)
                .Num("data_type", record->dwMDDataType)
                .Num("len", record->dwMDDataLen);
        if (c.failed)
            return c.Done(c.injected);
        Lock lock;
        Key* base;
        DWORD access;
        if (!Lookup(h, base, access))
            return c.Done(kInvalidHandle);
        if (!record || !required || (record->dwMDDataLen && !record->pbMDData))
            return c.Done(E_INVALIDARG);
        if (!(access & METADATA_PERMISSION_READ))
            return c.Done(kAccessDenied);
        bool inherit = (record->dwMDAttributes & METADATA_INHERIT) != 0;
        std::vector<std::wstring> parts = Split(path);
        size_t found;
        Key* key = Walk(base, parts, found);
        if (found < parts.size() && !(inherit && (record->dwMDAttributes & METADATA_PARTIAL_PATH)))
            return c.Done(kPathNotFound);
        c.line.Str("key", AbsolutePath(key));

        // The key's own item, else (when asked for) the nearest parent's
        // inheritable one; a partial path only ever inherits.
        const Item* item = nullptr;
        bool inherited = false;
        for (Key* k = key; k && !item; k = k->parent) {
            bool own = k == key && found == parts.size();
            auto it = k->data.find(record->dwMDIdentifier);
            if (it != k->data.end() && (own || (it->second.attributes & METADATA_INHERIT))) {
                item = &it->second;
                inherited = !own;
            }
            if (!inherit)
                break;
        }
        if (item && ((record->dwMDUserType != ALL_METADATA && record->dwMDUserType != item->userType) ||
                     (record->dwMDDataType != ALL_METADATA && record->dwMDDataType != item->dataType)))
            item = nullptr;
        if (!item)
            return c.Done(MD_ERROR_DATA_NOT_FOUND);
        DWORD size = (DWORD)item->bytes.size();
        if (record->dwMDDataLen < size) {
            *required = size;
            c.line.Num("required", size);
            return c.Done(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
        }
        if (size)
            memcpy(record->pbMDData, item->bytes.data(), size);
        record->dwMDDataLen = size;
        record->dwMDAttributes = item->attributes | (inherited ? METADATA_ISINHERITED : 0);
        record->dwMDUserType = item->userType;
        record->dwMDDataType = item->dataType;
        record->dwMDDataTag = 0;
        c.line.Num("out_len", size)
            .Num("out_attributes", record->dwMDAttributes)
            .Num("out_user_type", item->userType)
            .Num("out_data_type", item->dataType);
        DataFields(c.line, "out_", item->dataType, item->bytes);
        return c.Done(S_OK);
    }

    HRESULT WINAPI SetData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD record) override
    {
        Call c("SetData");
        c.line.Num("handle", h).Path("path", path);
        // The value as passed: what dwMDDataLen covers, which is all that a
        // remote call would carry across.
        std::vector<BYTE> bytes;
        if (record) {
            c.line.Num("id", record->dwMDIdentifier)
                .Num("attributes", record->dwMDAttributes)
                .Num("user_type", record->dwMDUserType)
                .Num("data_type", record->dwMDDataType)
                .Num("len", record->dwMDDataLen);
            if (record->pbMDData)
                bytes.assign(record->pbMDData, record->pbMDData + record->dwMDDataLen);
            DataFields(c.line, "", record->dwMDDataType, bytes);
        }
        if (c.failed)
            return c.Done(c.injected);
        Lock lock;
        Key* base;
        DWORD access;
        if (!Lookup(h, base, access))
            return c.Done(kInvalidHandle);
        if (!record || (record->dwMDDataLen && !record->pbMDData))
            return c.Done(E_INVALIDARG);
        if (!(access & METADATA_PERMISSION_WRITE))
            return c.Done(kAccessDenied);
        Key* key = Resolve(base, path);
        if (!key)
            return c.Done(kPathNotFound);
        c.line.Str("key", AbsolutePath(key));

        Item item;
        item.attributes = record->dwMDAttributes & ~(METADATA_ISINHERITED | METADATA_PARTIAL_PATH);
        item.userType = record->dwMDUserType;
        item.dataType = record->dwMDDataType;
        switch (item.dataType) {
        case DWORD_METADATA:
            if (bytes.size() != 4)
                return c.Done(E_INVALIDARG);
            item.bytes = bytes;
            break;
        case STRING_METADATA:
        case EXPANDSZ_METADATA: {
            // Kept up to the first NUL, which must lie within the length.
            size_t chars = bytes.size() / 2, n = 0;
            const wchar_t* s = (const wchar_t*)bytes.data();
            while (n < chars && s[n])
                ++n;
            if (n == chars)
                return c.Done(E_INVALIDARG);
            item.bytes.assign(bytes.begin(), bytes.begin() + (n + 1) * 2);
            break;
        }
        case BINARY_METADATA:
        case MULTISZ_METADATA:
            item.bytes = bytes;
            break;
        default:
            return c.Done(E_INVALIDARG);
        }
        key->data[record->dwMDIdentifier] = item;
        Save();
        return c.Done(S_OK);
    }

    // Not needed by the uninstaller: journalled, so a test sees any use.
    HRESULT WINAPI DeleteChildKeys(METADATA_HANDLE h, LPCWSTR path) override
    {
        return NotImpl("DeleteChildKeys", h, path);
    }
    HRESULT WINAPI EnumKeys(METADATA_HANDLE h, LPCWSTR path, LPWSTR, DWORD index) override
    {
        Call c("EnumKeys");
        c.line.Num("handle", h).Path("path", path).Num("index", index);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI CopyKey(METADATA_HANDLE h, LPCWSTR path, METADATA_HANDLE to, LPCWSTR toPath, WINBOOL,
                           WINBOOL) override
    {
        Call c("CopyKey");
        c.line.Num("handle", h).Path("path", path).Num("dest_handle", to).Path("dest_path", toPath);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI RenameKey(METADATA_HANDLE h, LPCWSTR path, LPCWSTR newName) override
    {
        Call c("RenameKey");
        c.line.Num("handle", h).Path("path", path).Path("new_name", newName);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI DeleteData(METADATA_HANDLE h, LPCWSTR path, DWORD id, DWORD dataType) override
    {
        Call c("DeleteData");
        c.line.Num("handle", h).Path("path", path).Num("id", id).Num("data_type", dataType);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI EnumData(METADATA_HANDLE h, LPCWSTR path, PMETADATA_RECORD, DWORD index, DWORD*) override
    {
        Call c("EnumData");
        c.line.Num("handle", h).Path("path", path).Num("index", index);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI GetAllData(METADATA_HANDLE h, LPCWSTR path, DWORD, DWORD, DWORD, DWORD*, DWORD*, DWORD,
                              unsigned char*, DWORD*) override
    {
        return NotImpl("GetAllData", h, path);
    }
    HRESULT WINAPI DeleteAllData(METADATA_HANDLE h, LPCWSTR path, DWORD, DWORD) override
    {
        return NotImpl("DeleteAllData", h, path);
    }
    HRESULT WINAPI CopyData(METADATA_HANDLE h, LPCWSTR path, METADATA_HANDLE to, LPCWSTR toPath, DWORD, DWORD,
                            DWORD, WINBOOL) override
    {
        Call c("CopyData");
        c.line.Num("handle", h).Path("path", path).Num("dest_handle", to).Path("dest_path", toPath);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI GetDataPaths(METADATA_HANDLE h, LPCWSTR path, DWORD id, DWORD, DWORD, WCHAR*, DWORD*) override
    {
        Call c("GetDataPaths");
        c.line.Num("handle", h).Path("path", path).Num("id", id);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI ChangePermissions(METADATA_HANDLE h, DWORD timeout, DWORD access) override
    {
        Call c("ChangePermissions");
        c.line.Num("handle", h).Num("timeout", timeout).Num("access", access);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI SaveData() override { return NotImpl("SaveData"); }
    HRESULT WINAPI GetHandleInfo(METADATA_HANDLE h, PMETADATA_HANDLE_INFO) override
    {
        return NotImpl("GetHandleInfo", h, nullptr);
    }
    HRESULT WINAPI GetSystemChangeNumber(DWORD*) override { return NotImpl("GetSystemChangeNumber"); }
    HRESULT WINAPI GetDataSetNumber(METADATA_HANDLE h, LPCWSTR path, DWORD*) override
    {
        return NotImpl("GetDataSetNumber", h, path);
    }
    HRESULT WINAPI SetLastChangeTime(METADATA_HANDLE h, LPCWSTR path, PFILETIME, WINBOOL) override
    {
        return NotImpl("SetLastChangeTime", h, path);
    }
    HRESULT WINAPI GetLastChangeTime(METADATA_HANDLE h, LPCWSTR path, PFILETIME, WINBOOL) override
    {
        return NotImpl("GetLastChangeTime", h, path);
    }
    HRESULT WINAPI KeyExchangePhase1() override { return NotImpl("KeyExchangePhase1"); }
    HRESULT WINAPI KeyExchangePhase2() override { return NotImpl("KeyExchangePhase2"); }
    HRESULT WINAPI Backup(LPCWSTR location, DWORD, DWORD) override { return NotImplAt("Backup", location); }
    HRESULT WINAPI Restore(LPCWSTR location, DWORD, DWORD) override { return NotImplAt("Restore", location); }
    HRESULT WINAPI EnumBackups(LPWSTR, DWORD*, PFILETIME, DWORD index) override
    {
        Call c("EnumBackups");
        c.line.Num("index", index);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    HRESULT WINAPI DeleteBackup(LPCWSTR location, DWORD) override { return NotImplAt("DeleteBackup", location); }
    HRESULT WINAPI UnmarshalInterface(IMSAdminBaseW**) override { return NotImpl("UnmarshalInterface"); }
    HRESULT WINAPI GetServerGuid() override { return NotImpl("GetServerGuid"); }

private:
    static HRESULT NotImpl(const char* name)
    {
        Call c(name);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    static HRESULT NotImpl(const char* name, METADATA_HANDLE h, LPCWSTR path)
    {
        Call c(name);
        c.line.Num("handle", h).Path("path", path);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }
    static HRESULT NotImplAt(const char* name, LPCWSTR location)
    {
        Call c(name);
        c.line.Path("location", location);
        return c.Done(c.failed ? c.injected : E_NOTIMPL);
    }

    LONG refs_ = 0;
};

// -- class factory and exports ------------------------------------------------------

class Factory : public IClassFactory {
public:
    Factory() { InterlockedIncrement(&g_locks); }
    virtual ~Factory() { InterlockedDecrement(&g_locks); }

    HRESULT WINAPI QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = NULL;
        return E_NOINTERFACE;
    }
    ULONG WINAPI AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG WINAPI Release() override
    {
        LONG n = InterlockedDecrement(&refs_);
        if (n == 0)
            delete this;
        return n;
    }

    HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override
    {
        Call c("CreateInstance");
        c.line.Guid("iid", riid);
        if (c.failed)
            return c.Done(c.injected);
        if (!ppv)
            return c.Done(E_POINTER);
        *ppv = NULL;
        if (outer)
            return c.Done(CLASS_E_NOAGGREGATION);
        {
            // A fresh metabase per client process run: read the store unless
            // another object of this process is still using it.
            Lock lock;
            if (g_objects == 0)
                Load();
        }
        AdminBase* object = new (std::nothrow) AdminBase;
        if (!object)
            return c.Done(E_OUTOFMEMORY);
        // The interface asked for holds the first reference.
        HRESULT hr = object->QueryInterface(riid, ppv);
        if (FAILED(hr)) {
            AdminBase::Retire();
            delete object;
        }
        return c.Done(hr);
    }

    HRESULT WINAPI LockServer(WINBOOL lock) override
    {
        if (lock)
            InterlockedIncrement(&g_locks);
        else
            InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    LONG refs_ = 0;
};

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv)
{
    Call c("DllGetClassObject");
    c.line.Guid("clsid", clsid).Guid("iid", riid);
    if (c.failed)
        return c.Done(c.injected);
    if (!ppv)
        return c.Done(E_POINTER);
    *ppv = NULL;
    if (!IsEqualCLSID(clsid, kClsidAdminBase))
        return c.Done(CLASS_E_CLASSNOTAVAILABLE);
    Factory* factory = new (std::nothrow) Factory;
    if (!factory)
        return c.Done(E_OUTOFMEMORY);
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return c.Done(hr);
}

STDAPI DllCanUnloadNow()
{
    HRESULT hr = g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
    Line("DllCanUnloadNow").Num("hr", (DWORD)hr).Write();
    return hr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        InitializeCriticalSection(&g_lock);
    else if (reason == DLL_PROCESS_DETACH)
        DeleteCriticalSection(&g_lock);
    return TRUE;
}
