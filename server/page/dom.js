// The page's one way of making an element: tag, properties, children.

export const make = (tag, properties = {}, children = []) => {
  const element = Object.assign(document.createElement(tag), properties);
  for (const child of children) element.append(child);
  return element;
};
