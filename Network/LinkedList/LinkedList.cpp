#include "Network/LinkedList/LinkedList.h"

#include <new>

LinkedList *LinkedList_New() {
    return new (std::nothrow) LinkedList{};
}

int32_t LinkedList_Add(LinkedList *list) {
    if (list == nullptr)
        return 0;
    auto *element = new (std::nothrow) LinkedListElement{};
    if (element == nullptr) {
        // Without a current element the caller's LinkedList_SetData cannot overwrite the value of
        // an element that is already in the list.
        list->Current = nullptr;
        return 0;
    }
    if (list->Current == nullptr)
        list->Current = list->First != nullptr ? list->First : list->Last;
    LinkedListElement *current = list->Current;
    if (current != nullptr) {
        if (current->Next != nullptr) {
            current->Next->Previous = element;
            element->Next = current->Next;
        }
        current->Next = element;
    }
    element->Previous = current;
    if (current == list->Last)
        list->Last = element;
    if (list->First == nullptr)
        list->First = element;
    list->Current = element;
    ++list->Count;
    return 1;
}

void LinkedList_SetData(LinkedList *list, intptr_t value) {
    if (list != nullptr && list->Current != nullptr)
        list->Current->Data = value;
}

intptr_t LinkedList_GetData(LinkedList *list) {
    return list != nullptr && list->Current != nullptr ? list->Current->Data : 0;
}

int32_t LinkedList_Next(LinkedList *list) {
    if (list == nullptr)
        return 0;
    if (list->Current == nullptr) {
        list->Current = list->First;
        return list->Current != nullptr ? 1 : 0;
    }
    if (list->Current->Next == nullptr)
        return 0;
    list->Current = list->Current->Next;
    return 1;
}

int32_t LinkedList_Previous(LinkedList *list) {
    if (list == nullptr)
        return 0;
    if (list->Current == nullptr) {
        list->Current = list->Last;
        return list->Current != nullptr ? 1 : 0;
    }
    if (list->Current->Previous == nullptr)
        return 0;
    list->Current = list->Current->Previous;
    return 1;
}

void LinkedList_Reset(LinkedList *list) {
    if (list != nullptr)
        list->Current = nullptr;
}

int32_t LinkedList_Delete(LinkedList *list) {
    if (list == nullptr || list->Current == nullptr)
        return 0;
    LinkedListElement *gone = list->Current;
    if (gone->Previous != nullptr)
        gone->Previous->Next = gone->Next;
    if (gone->Next != nullptr)
        gone->Next->Previous = gone->Previous;
    if (gone == list->Last)
        list->Last = gone->Previous;
    if (gone == list->First)
        list->First = gone->Next;
    list->Current = gone->Previous;
    delete gone;
    --list->Count;
    return 1;
}

void LinkedList_Free(LinkedList *list) {
    if (list == nullptr)
        return;
    LinkedListElement *element = list->First;
    while (element != nullptr) {
        LinkedListElement *next = element->Next;
        delete element;
        element = next;
    }
    delete list;
}
