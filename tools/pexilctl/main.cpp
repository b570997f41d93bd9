#include <QCoreApplication>
#include <cstdio>
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::puts("pexilctl");
    return 0;
}
