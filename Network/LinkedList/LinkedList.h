// A small doubly linked list of pointer-sized values with a cursor that callers move element by
// element. The list stores the caller's values and never looks at them or frees them. It has no
// lock of its own: its users serialise access.
#pragma once

#include <cstdint>

struct LinkedListElement {
    LinkedListElement *Previous = nullptr;
    LinkedListElement *Next = nullptr;
    intptr_t Data = 0;  // the caller's value; 0 until set
};

struct LinkedList {
    LinkedListElement *Current = nullptr;  // none: the cursor stands before the first element
    LinkedListElement *First = nullptr;
    LinkedListElement *Last = nullptr;
    int32_t Count = 0;
};

// A new empty list, or null when no memory can be had.
LinkedList *LinkedList_New();
// Inserts an empty element behind the cursor and makes it current. Without a current element the
// cursor first moves to the first element, so the new one goes behind it (on an empty list it
// becomes the only element). 1 on success; 0 when no memory can be had: the elements stay as they
// were and the cursor goes before the first, so a following LinkedList_SetData writes nothing.
int32_t LinkedList_Add(LinkedList *list);
// Writes the current element's value; does nothing without a current element.
void LinkedList_SetData(LinkedList *list, intptr_t value);
// The current element's value, or 0 without a current element.
intptr_t LinkedList_GetData(LinkedList *list);
// Move the cursor one element on (from "before the first" to the first) or back (from "before the
// first" to the last); 1 when it moved, else 0.
int32_t LinkedList_Next(LinkedList *list);
int32_t LinkedList_Previous(LinkedList *list);
// Moves the cursor before the first element.
void LinkedList_Reset(LinkedList *list);
// Removes the current element; its predecessor becomes current (none when it was the first).
// 1 when an element was deleted, else 0. The value it carried is not freed.
int32_t LinkedList_Delete(LinkedList *list);
// Deletes every element (their values untouched) and the list record. Null is ignored.
void LinkedList_Free(LinkedList *list);
