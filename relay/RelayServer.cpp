// The relay service comes here.
