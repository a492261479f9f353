// Placeholder until this component lands.
