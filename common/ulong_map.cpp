#include "common/baltree.h"

#include <cstdio>
#include <istream>
#include <ostream>

namespace quillory {

tULongToULong::~tULongToULong() { Clear(); }

// Plain numbers own nothing.
void tULongToULong::FreeKey(tBalNode*) {}
void tULongToULong::FreeValue(tWord*) {}

int tULongToULong::SetKey(tBalNode* node, tWord key)
{
    node->key = key;
    return 1;
}

int tULongToULong::SetValue(tWord* slot, tWord value)
{
    *slot = value;
    return 1;
}

int tULongToULong::Compare(tWord a, tWord b) const
{
    if (a < b) return -1;
    return a > b ? 1 : 0;
}

const char* tULongToULong::KeyText(tWord key) const
{
    thread_local char text[16];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(key));
    return text;
}

int tULongToULong::SaveElement(std::ostream& out, const tBalNode* node) const
{
    return WriteWord(out, node->key) && WriteWord(out, node->value) ? 1 : 0;
}

int tULongToULong::LoadElement(std::istream& in)
{
    tWord key = 0;
    tWord value = 0;
    if (!ReadWord(in, key) || !ReadWord(in, value)) return 0;
    return Insert(key, value);
}

}  // namespace quillory
