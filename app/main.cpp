#include "app/startup.h"

int main() {
    return ManagerMain();
}
