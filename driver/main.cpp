#include "driver/run.hpp"

int main() {
  quarn::RunQuarn();
}
