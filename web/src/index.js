// index.js: the script of a batch's index page: its table sorts by any column.
//
// The page (python/marrowind/assets/index.html, filled by marrowind.batch) lists one family a
// row; each cell carries its raw value in data-value, and each heading says in data-type
// whether its column holds numbers or text. A click on a heading sorts the rows by that
// column, numbers by value and text alphabetically, empty cells last; a second click on the
// same heading reverses the order.

function sortBy(table, heading, column) {
  const ascending = heading.getAttribute("aria-sort") !== "ascending";
  table.querySelectorAll("th").forEach((th) => th.removeAttribute("aria-sort"));
  heading.setAttribute("aria-sort", ascending ? "ascending" : "descending");
  const numeric = heading.dataset.type === "number";
  const body = table.tBodies[0];
  const key = (row) => row.cells[column].dataset.value;
  const rows = Array.from(body.rows).sort((a, b) => {
    const x = key(a);
    const y = key(b);
    if (x === "" || y === "") return (x === "") - (y === "");
    const order = numeric ? Number(x) - Number(y) : x.localeCompare(y);
    return ascending ? order : -order;
  });
  body.append(...rows);
}

const table = document.getElementById("families");
table.querySelectorAll("th button").forEach((button, column) => {
  button.addEventListener("click", () => sortBy(table, button.parentElement, column));
});
