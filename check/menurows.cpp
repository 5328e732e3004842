#include "check/menurows.h"

POINT Middle(const RECT& rect)
{
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

RECT SplitRow(const RECT& inside, int item, int count)
{
    const LONG height = inside.bottom - inside.top;
    RECT row = inside;
    row.top = inside.top + height * item / count;
    row.bottom = inside.top + height * (item + 1) / count;
    return row;
}

bool MiddleInRow(const RECT& read, const RECT& row)
{
    const POINT middle = Middle(read);
    return read.left < read.right && read.top < read.bottom && middle.x >= row.left && middle.x < row.right &&
           middle.y >= row.top && middle.y < row.bottom;
}

RECT ChooseItemRect(const RECT* read, const RECT& row)
{
    return read != nullptr && MiddleInRow(*read, row) ? *read : row;
}
