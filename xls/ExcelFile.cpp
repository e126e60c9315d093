// Placeholder until ExcelFile lands.
