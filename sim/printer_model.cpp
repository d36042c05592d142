namespace vekta {}
